#include "app/shots/ShotStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <system_error>

#include "app/shots/ShotCodec.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/SettingsFolder.h"

namespace vantry::app::shots {
namespace fs = std::filesystem;
namespace {

// "20261209T001530Z"
std::string utcStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// A name beside the file that is not taken yet.
fs::path asideName(const fs::path& file) {
    const std::string base = file.string() + ".damaged-" + utcStamp();
    fs::path candidate = base;
    std::error_code ignored;
    for (int n = 2; fs::symlink_status(candidate, ignored).type() != fs::file_type::not_found; ++n) {
        candidate = base + "-" + std::to_string(n);
    }
    return candidate;
}

// 64-bit FNV-1a: enough to tell one file's content from another's.
std::uint64_t hashOf(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ull;
    }
    return h;
}

// The file as it is now (followed through a link); `bytes` its content when wanted.
ShotsFileStamp stampOf(const fs::path& file, const std::string& bytes) {
    ShotsFileStamp stamp;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    stamp.size = std::uintmax_t(st.st_size);
    stamp.contentHash = hashOf(bytes);
    return stamp;
}

}  // namespace

std::optional<std::string> whyNotSaveable(const fs::path& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(file, ec);
        return "it is a symbolic link" + (ec ? std::string() : " to " + target.string()) +
               ": saving would replace the link and leave the file it points to behind";
    }
    // The owner's write bit decides even for a user whom the system lets write anyway.
    if (S_ISREG(st.st_mode) && ((st.st_mode & S_IWUSR) == 0 || ::access(file.c_str(), W_OK) != 0))
        return std::string("it is read-only");
    return std::nullopt;
}

fs::path defaultShotsFile() {
    return platform::settingsFolder() / "shots.json";
}

LoadedShots loadShots(const fs::path& file) {
    LoadedShots loaded;
    const platform::FileContents contents = platform::readRegularFile(file, kMaxFileBytes);
    if (contents.missing) return loaded;
    const bool tooLarge = !contents.ok() && contents.error.rfind("it is larger than", 0) == 0;
    if (!contents.ok() && !tooLarge) {
        loaded.damage = contents.error;  // "it is a named pipe", "it is a folder", ...
        loaded.blocked = true;
        return loaded;
    }
    if (!tooLarge) {
        std::string why;
        if (auto shots = decodeShots(contents.bytes, &why)) {
            loaded.shots = std::move(*shots);
            loaded.stamp = stampOf(file, contents.bytes);
            loaded.notWritable = whyNotSaveable(file).value_or(std::string());
            return loaded;
        }
        loaded.damage = why;
    } else {
        loaded.damage = "it is larger than a shots file can be";
    }
    std::error_code error;
    const fs::path aside = asideName(file);
    fs::rename(file, aside, error);
    if (error) {
        loaded.damage += "; it could not be moved aside (" + error.message() + ")";
        loaded.blocked = true;
        return loaded;
    }
    loaded.keptAside = aside;
    return loaded;
}

ShotsFileStamp saveShots(const fs::path& file, const std::vector<Shot>& shots,
                         const std::optional<ShotsFileStamp>& expected) {
    if (auto why = whyNotSaveable(file)) throw ShotsSaveRefused(*why);
    if (expected) {
        const platform::FileContents now = platform::readRegularFile(file, kMaxFileBytes);
        const ShotsFileStamp current = now.missing ? ShotsFileStamp{} : stampOf(file, now.bytes);
        if (current != *expected)
            throw ShotsSaveRefused("it was changed by another program since it was read");
    }
    const std::string text = encodeShots(shots);
    platform::SafeOutput::write(file, text);
    return stampOf(file, text);
}

}  // namespace vantry::app::shots
