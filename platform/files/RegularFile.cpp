#include "platform/files/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace vantry::platform {
namespace {

std::string systemReason(int err) {
    return std::error_code(err, std::generic_category()).message();
}

// Opens and checks; the descriptor (or -1) and the problem.
int openChecked(const std::filesystem::path& file, std::uintmax_t maxBytes, FileRules rules,
                FileContents& result, std::uintmax_t& size) {
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (rules == FileRules::privateToUser) flags |= O_NOFOLLOW;
    const int fd = ::open(file.c_str(), flags);
    if (fd < 0) {
        const int err = errno;
        result.missing = err == ENOENT;
        if (err == ENOENT) {
            result.error = "it does not exist";
        } else if (err == ELOOP && rules == FileRules::privateToUser) {
            result.error = "it is a symbolic link, not a regular file";
        } else if (err == ENXIO) {
            result.error = "it is a socket";  // a socket cannot be opened as a file
        } else {
            result.error = "it cannot be opened (" + systemReason(err) + ")";
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        result.error = "it cannot be inspected (" + systemReason(errno) + ")";
    } else if (auto why = whyNotRegular(st.st_mode)) {
        result.error = *why;
    } else if (rules == FileRules::privateToUser && st.st_uid != ::geteuid()) {
        result.error = "it belongs to another user";
    } else if (rules == FileRules::privateToUser && (st.st_mode & 077) != 0) {
        result.error = "it is open to other users (chmod 600 it)";
    } else if (std::uintmax_t(st.st_size) > maxBytes) {
        result.error = "it is larger than " + std::to_string(maxBytes) + " bytes";
    } else {
        size = std::uintmax_t(st.st_size);
        return fd;
    }
    ::close(fd);
    return -1;
}

}  // namespace

std::optional<std::string> whyNotRegular(unsigned statMode) {
    const mode_t mode = statMode;
    if (S_ISREG(mode)) return std::nullopt;
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
    if (S_ISFIFO(mode)) return "it is a named pipe";
    if (S_ISSOCK(mode)) return "it is a socket";
    return "it is not a regular file";
}

FileContents readRegularFile(const std::filesystem::path& file, std::uintmax_t maxBytes, FileRules rules) {
    FileContents result;
    std::uintmax_t size = 0;
    const int fd = openChecked(file, maxBytes, rules, result, size);
    if (fd < 0) return result;
    // The size may change while reading: never more than the limit, and one byte past it tells.
    result.bytes.resize(std::size_t(std::min<std::uintmax_t>(size, maxBytes) + 1));
    std::size_t got = 0;
    for (;;) {
        if (got == result.bytes.size()) break;
        const ssize_t n = ::read(fd, result.bytes.data() + got, result.bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = "it cannot be read (" + systemReason(errno) + ")";
            break;
        }
        if (n == 0) break;
        got += std::size_t(n);
    }
    ::close(fd);
    if (result.ok() && got > maxBytes)
        result.error = "it is larger than " + std::to_string(maxBytes) + " bytes";
    if (!result.ok()) {
        result.bytes.clear();
        return result;
    }
    result.bytes.resize(got);
    return result;
}

std::optional<std::string> whyNotReadable(const std::filesystem::path& file, std::uintmax_t maxBytes) {
    FileContents result;
    std::uintmax_t size = 0;
    const int fd = openChecked(file, maxBytes, FileRules::regular, result, size);
    if (fd >= 0) ::close(fd);
    if (result.ok()) return std::nullopt;
    return result.error;
}

}  // namespace vantry::platform
