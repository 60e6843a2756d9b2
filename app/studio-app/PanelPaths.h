// Where a file panel's answer points. Pure functions, no Qt.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "app/studio-app/FilePanels.h"

namespace vantry::app {

// The file a name typed into a save panel stands for: an absolute path as it is,
// "~" and "~/..." under home, anything else under folder. Empty when the name is
// empty or only blanks. Never joins folder and name without a separator.
std::filesystem::path resolveTypedPath(const std::filesystem::path& folder, std::string_view typed,
                                       const std::filesystem::path& home);

// The file with the first allowed extension added when it has none of them
// (compared without regard to case).
std::filesystem::path withAllowedExtension(const std::filesystem::path& file,
                                           const std::vector<PanelFileType>& types);

}  // namespace vantry::app
