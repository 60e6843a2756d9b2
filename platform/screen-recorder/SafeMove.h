// Moves a finished file to its final name without ever leaving a half-written file there.
#pragma once

#include <filesystem>

namespace vantry::platform {

// Renames from -> to (replacing `to`). Across file systems the data is copied to a hidden
// sibling of `to`, flushed, and renamed over `to`; only then is `from` removed. On failure
// `from` is left as it was and std::filesystem::filesystem_error is thrown.
void moveFileIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vantry::platform
