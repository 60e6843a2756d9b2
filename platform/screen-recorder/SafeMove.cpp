#include "platform/screen-recorder/SafeMove.h"

#include <system_error>

#include "platform/files/SafeOutput.h"

namespace vantry::platform {
namespace fs = std::filesystem;

void moveFileIntoPlace(const fs::path& from, const fs::path& to) {
    // A folder, device, pipe or socket under the name is never replaced (a rename would do it).
    checkReplaceable(to);
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) return;
    if (ec != std::errc::cross_device_link) throw fs::filesystem_error("cannot move the file", from, to, ec);

    // Another file system: a copy written beside `to`, flushed and renamed over it.
    SafeOutput output(to);
    fs::copy_file(from, output.temporaryPath(), fs::copy_options::overwrite_existing);
    output.commit();
    fs::remove(from, ec);  // the copy is in place; a leftover source is only wasted space
}

}  // namespace vantry::platform
