#include "platform/screen-recorder/SafeMove.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vantry::platform {
namespace fs = std::filesystem;

namespace {

void flushFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw fs::filesystem_error("cannot open for flushing", path,
                                   std::error_code(errno, std::generic_category()));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        throw fs::filesystem_error("cannot flush", path, std::error_code(err, std::generic_category()));
}

}  // namespace

void moveFileIntoPlace(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return;
    if (ec != std::errc::cross_device_link) throw fs::filesystem_error("cannot move the file", from, to, ec);

    const fs::path staging = to.parent_path() / ("." + to.filename().string() + ".moving");
    try {
        fs::copy_file(from, staging, fs::copy_options::overwrite_existing);
        flushFile(staging);
        fs::rename(staging, to);
    } catch (...) {
        std::error_code ignored;
        fs::remove(staging, ignored);
        throw;
    }
    fs::remove(from, ec);  // the copy is in place; a leftover source is only wasted space
}

}  // namespace vantry::platform
