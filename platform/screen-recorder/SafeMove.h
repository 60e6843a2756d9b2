// Moves a finished file to its final name without ever leaving a half-written file there.
#pragma once

#include <filesystem>

namespace vantry::platform {

// Renames from -> to, replacing a regular file or a symbolic link (the link itself, never its
// target) at `to`; a folder, device, named pipe or socket there is refused with OutputRefused
// (platform/files/SafeOutput.h). Across file systems the data is copied to a hidden sibling of
// `to`, flushed, and renamed over `to`; only then is `from` removed. On failure `from` is left
// as it was and std::filesystem::filesystem_error is thrown.
void moveFileIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vantry::platform
