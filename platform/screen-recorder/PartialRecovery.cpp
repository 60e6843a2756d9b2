#include "platform/screen-recorder/PartialRecovery.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/screen-recorder/FragmentTrim.h"

namespace vantry::platform {
namespace fs = std::filesystem;
namespace {

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool allHex(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c); });
}

// "CreatorRec_<seconds>_<pid>.partial.mp4": the <seconds>, else "".
std::string recordingStamp(std::string_view name) {
    constexpr std::string_view prefix = "CreatorRec_", suffix = ".partial.mp4";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return {};
    const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t cut = middle.find('_');
    if (cut == std::string_view::npos || !allDigits(middle.substr(0, cut)) ||
        !allDigits(middle.substr(cut + 1)))
        return {};
    return std::string(middle.substr(0, cut));
}

// ".<target name>.<16 hex digits>.partial": the temporary file of an unfinished SafeOutput.
bool isUnfinishedOutput(std::string_view name) {
    constexpr std::string_view suffix = ".partial";
    if (!name.starts_with('.') || !name.ends_with(suffix)) return false;
    const std::string_view rest = name.substr(1, name.size() - 1 - suffix.size());
    const std::size_t dot = rest.rfind('.');
    return dot != std::string_view::npos && dot > 0 && rest.size() - dot - 1 == 16 &&
           allHex(rest.substr(dot + 1));
}

// `name`, else "<stem> 2<ext>", "<stem> 3<ext>", ...: a file that is not there yet.
fs::path unusedFile(const fs::path& folder, const std::string& stem, const std::string& extension) {
    std::error_code ec;
    fs::path candidate = folder / (stem + extension);
    for (int n = 2; fs::exists(fs::symlink_status(candidate, ec)) && n < 10000; ++n)
        candidate = folder / (stem + " " + std::to_string(n) + extension);
    return candidate;
}

PartialFile recoverRecording(const fs::path& file, const std::string& stamp) {
    PartialFile result;
    result.found = file;
    try {
        const FragmentedMp4Extent extent = trimToCompleteFragments(file);
        if (extent.fragments == 0) {
            fs::remove(file);
            result.fate = PartialFile::Fate::removed;
            return result;
        }
        result.recoveredAs = unusedFile(file.parent_path(), "CreatorRec_" + stamp + "_recovered", ".mp4");
        fs::rename(file, result.recoveredAs);
        result.fragments = extent.fragments;
        result.fate = PartialFile::Fate::recovered;
    } catch (const fs::filesystem_error& e) {
        result.fate = PartialFile::Fate::failed;
        result.why = e.code().message();
    }
    return result;
}

PartialFile removeFile(const fs::path& file) {
    PartialFile result;
    result.found = file;
    std::error_code ec;
    fs::remove(file, ec);
    result.fate = ec ? PartialFile::Fate::failed : PartialFile::Fate::removed;
    if (ec) result.why = ec.message();
    return result;
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool fileOpenByAnyProcess(const fs::path& file) {
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(file, ec);
    if (ec) return false;
    // Processes come and go while they are read: whatever cannot be read is passed over.
    for (fs::directory_iterator process("/proc", ec), end; !ec && process != end; process.increment(ec)) {
        if (!allDigits(process->path().filename().string())) continue;
        std::error_code fdError;
        for (fs::directory_iterator fd(process->path() / "fd", fdError); !fdError && fd != end;
             fd.increment(fdError)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(fd->path(), linkError);
            if (!linkError && target == wanted) return true;
        }
    }
    return false;
}

std::vector<PartialFile> recoverPartialFiles(const fs::path& folder,
                                             const std::function<bool(const fs::path&)>& inUse) {
    std::vector<fs::path> recordings, outputs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::error_code typeError;
        if (!entry.is_regular_file(typeError) || entry.is_symlink(typeError)) continue;
        const std::string name = entry.path().filename().string();
        if (!recordingStamp(name).empty()) {
            recordings.push_back(entry.path());
        } else if (isUnfinishedOutput(name)) {
            outputs.push_back(entry.path());
        }
    }
    std::sort(recordings.begin(), recordings.end());
    std::sort(outputs.begin(), outputs.end());
    std::vector<PartialFile> results;
    for (const fs::path& file : recordings) {
        if (inUse && inUse(file)) continue;
        results.push_back(recoverRecording(file, recordingStamp(file.filename().string())));
    }
    // An export's file has its index at the end, written last: without it nothing plays.
    for (const fs::path& file : outputs) {
        if (inUse && inUse(file)) continue;
        results.push_back(removeFile(file));
    }
    return results;
}

std::string describePartialFiles(const std::vector<PartialFile>& files) {
    std::vector<std::string> recovered;
    std::size_t removed = 0;
    std::vector<const PartialFile*> failed;
    for (const PartialFile& f : files) {
        if (f.fate == PartialFile::Fate::recovered) recovered.push_back(f.recoveredAs.filename().string());
        if (f.fate == PartialFile::Fate::removed) ++removed;
        if (f.fate == PartialFile::Fate::failed) failed.push_back(&f);
    }
    std::vector<std::string> parts;
    if (recovered.size() == 1) parts.push_back("Recovered an interrupted recording as " + recovered[0]);
    if (recovered.size() > 1) {
        std::string names;
        for (const auto& name : recovered) names += (names.empty() ? "" : ", ") + name;
        parts.push_back("Recovered " + std::to_string(recovered.size()) + " interrupted recordings (" +
                        names + ")");
    }
    if (removed > 0)
        parts.push_back(std::string(parts.empty() ? "Removed " : "removed ") +
                        count(removed, "unfinished file", "unfinished files") + " that could not be played");
    for (const PartialFile* f : failed)
        parts.push_back(std::string(parts.empty() ? "Could" : "could") + " not clean up " +
                        f->found.filename().string() + " (" + f->why + ")");
    std::string sentence;
    for (const auto& part : parts) sentence += (sentence.empty() ? "" : "; ") + part;
    return sentence.empty() ? sentence : sentence + ".";
}

}  // namespace vantry::platform
