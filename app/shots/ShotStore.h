// The shots file on disk: <config home>/vantry-pro/shots.json, written whole through
// SafeOutput. A damaged file (not JSON, or not a shots file) is never replaced: it is renamed
// aside to shots.json.damaged-<UTC time> and the caller reports where it went.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/shots/Shot.h"

namespace vantry::app::shots {

// <config home>/vantry-pro/shots.json (the config home is read each time).
std::filesystem::path defaultShotsFile();

// Files larger than this are not shots files.
inline constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

struct LoadedShots {
    std::vector<Shot> shots;
    // Where a damaged file was moved, and why it counts as damaged.
    std::optional<std::filesystem::path> keptAside;
    std::string damage;
    // The file exists but could not be read or moved aside (the reason in `damage`): saving
    // would replace it, so the caller must not save.
    bool blocked = false;
};

// Reads the file; an absent file is an empty list.
LoadedShots loadShots(const std::filesystem::path& file);

// Writes the whole list (SafeOutput, mode 0644). Throws std::filesystem::filesystem_error or
// json::EncodingError.
void saveShots(const std::filesystem::path& file, const std::vector<Shot>& shots);

}  // namespace vantry::app::shots
