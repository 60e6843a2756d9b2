// The shots file on disk: <config home>/vantry-pro/shots.json, written whole through
// SafeOutput. A damaged file (not JSON, or not a shots file) is never replaced: it is renamed
// aside to shots.json.damaged-<UTC time> and the caller reports where it went. A file that is
// read-only or a symbolic link is never saved over, and neither is one changed by someone else
// since it was read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/shots/Shot.h"

namespace vantry::app::shots {

// <config home>/vantry-pro/shots.json (the config home is read each time).
std::filesystem::path defaultShotsFile();

// Files larger than this are not shots files.
inline constexpr std::uintmax_t kMaxFileBytes = 1 << 20;

// The file as it was read or written: what a later save compares with to notice a change
// made outside.
struct ShotsFileStamp {
    bool exists = false;
    std::int64_t modifiedNs = 0;
    std::uintmax_t size = 0;
    std::uint64_t contentHash = 0;
    bool operator==(const ShotsFileStamp&) const = default;
};

struct LoadedShots {
    std::vector<Shot> shots;
    // Where a damaged file was moved, and why it counts as damaged.
    std::optional<std::filesystem::path> keptAside;
    std::string damage;
    // The file exists but could not be read or moved aside (the reason in `damage`): saving
    // would replace it, so the caller must not save.
    bool blocked = false;
    // Why the file, though read, will not be saved over ("it is read-only", "it is a symbolic
    // link ..."); empty when it can be.
    std::string notWritable;
    ShotsFileStamp stamp;
};

// Reads the file; an absent file is an empty list. The file is opened without blocking and
// must be a regular file of at most kMaxFileBytes (a link is read through).
LoadedShots loadShots(const std::filesystem::path& file);

// Why saving must not replace the file: a reason the user can act on.
class ShotsSaveRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Why `file` must not be saved over, or nothing: "it is a symbolic link (to ...): saving would
// leave the file it points to behind", "it is read-only".
std::optional<std::string> whyNotSaveable(const std::filesystem::path& file);

// Writes the whole list (SafeOutput, mode 0644) and returns the new file's stamp. With
// `expected`, refuses (ShotsSaveRefused) when the file is no longer as stamped: it changed
// outside and is kept as it is. Refuses a read-only file and a link (whyNotSaveable). Throws
// std::filesystem::filesystem_error or json::EncodingError otherwise.
ShotsFileStamp saveShots(const std::filesystem::path& file, const std::vector<Shot>& shots,
                         const std::optional<ShotsFileStamp>& expected = std::nullopt);

}  // namespace vantry::app::shots
