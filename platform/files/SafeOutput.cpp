#include "platform/files/SafeOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

#include "platform/files/RegularFile.h"

namespace vantry::platform {
namespace fs = std::filesystem;
namespace {

// Leaves room for the dot, the random part and the suffix within a 255-byte file name.
constexpr std::size_t kMaxStemBytes = 200;

[[noreturn]] void fail(const std::string& what, const fs::path& target, int err) {
    throw fs::filesystem_error(what, target, std::error_code(err, std::generic_category()));
}

std::string temporaryName(const fs::path& target) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device rd;
        return (std::uint64_t(rd()) << 32) ^ rd();
    }();
    const std::uint64_t n =
        seed ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t(::getpid()) << 17);
    char random[17];
    std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(n));
    const std::string name = target.filename().string();
    return "." + name.substr(0, kMaxStemBytes) + "." + random + ".partial";
}

int syncFile(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

}  // namespace

std::optional<std::string> whyNotReplaceable(const fs::path& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::nullopt;
        return "it cannot be inspected (" + std::error_code(errno, std::generic_category()).message() + ")";
    }
    if (S_ISLNK(st.st_mode)) return std::nullopt;
    return whyNotRegular(st.st_mode);
}

OutputRefused::OutputRefused(const fs::path& target, std::string reason, std::error_code code)
    : fs::filesystem_error("refusing to replace the output path: " + reason, target, code),
      reason_(std::move(reason)) {}

std::string describeOutputError(const fs::filesystem_error& error) {
    if (const auto* refused = dynamic_cast<const OutputRefused*>(&error)) return refused->reason();
    return error.code().message();
}

void checkReplaceable(const fs::path& target) {
    const auto reason = whyNotReplaceable(target);
    if (!reason) return;
    std::error_code ec;
    const bool folder = fs::is_directory(fs::symlink_status(target, ec));
    throw OutputRefused(target, *reason, std::error_code(folder ? EISDIR : EEXIST, std::generic_category()));
}

SafeOutput::SafeOutput(fs::path target, unsigned mode) : target_(std::move(target)) {
    if (!target_.has_filename()) fail("the output path has no file name", target_, EISDIR);
    checkReplaceable(target_);
    const fs::path folder = target_.parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) throw fs::filesystem_error("cannot create the output folder", folder, ec);
    }
    const fs::path base = folder.empty() ? fs::path(".") : folder;
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path candidate = folder / temporaryName(target_);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                              static_cast<mode_t>(mode & 07777));
        if (fd >= 0) {
            ::close(fd);
            temporary_ = std::move(candidate);
            open_ = true;
            return;
        }
        if (errno != EEXIST) fail("cannot create a file in the output folder", base, errno);
    }
    fail("cannot create a file in the output folder", base, EEXIST);
}

SafeOutput::~SafeOutput() {
    discard();
}

void SafeOutput::discard() noexcept {
    if (!open_) return;
    ::unlink(temporary_.c_str());
    open_ = false;
}

void SafeOutput::commit() {
    if (!open_) fail("the output was already finished", target_, EINVAL);
    try {
        const int fd = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) fail("cannot reopen the written file", temporary_, errno);
        const int synced = syncFile(fd);
        ::close(fd);
        if (synced != 0) fail("cannot flush the output file to disk", target_, synced);
        // The target may have changed since the check at the start.
        checkReplaceable(target_);
        if (::rename(temporary_.c_str(), target_.c_str()) != 0)
            fail("cannot move the output file into place", target_, errno);
    } catch (...) {
        discard();
        throw;
    }
    open_ = false;
    // Makes the rename itself durable; a folder that cannot be synced does not undo the write.
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        syncFile(dir);
        ::close(dir);
    }
}

void SafeOutput::write(const fs::path& target, std::string_view bytes, unsigned mode) {
    SafeOutput output(target, mode);
    const int fd = ::open(output.temporaryPath().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) fail("cannot open the output file", target, errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            fail("cannot write the output file", target, err);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) fail("cannot write the output file", target, errno);
    output.commit();
}

}  // namespace vantry::platform
