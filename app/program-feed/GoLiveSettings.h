// The GO LIVE settings kept between runs: up to four servers (address, switched on or off),
// picture size and bit rate in one file, each server's stream key alone in a private file
// (mode 0600), all in the user's config folder.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/stream/StreamLimits.h"
#include "studio/ProgramCanvas.h"

namespace vantry::app::feed {

inline constexpr int kGoLiveDestinations = platform::kMaxStreamDestinations;

// One server GO LIVE sends to; its key is kept apart (loadStreamKey).
struct GoLiveDestination {
    std::string url;  // empty: not used
    bool enabled = true;
    ProgramCanvas canvas = ProgramCanvas::landscape;  // the picture it takes
    bool operator==(const GoLiveDestination&) const = default;
};

struct GoLiveSettings {
    std::array<GoLiveDestination, kGoLiveDestinations> destinations;
    int width = 1280;
    int height = 720;
    std::int64_t bitRate = 4'500'000;
    bool operator==(const GoLiveSettings&) const = default;
};

// The picture sizes offered: 1280 x 720 and 1920 x 1080.
constexpr bool isGoLiveSize(int width, int height) {
    return (width == 1280 && height == 720) || (width == 1920 && height == 1080);
}
// "1280x720" or "1920x1080" as {width, height}; nothing for any other text.
std::optional<std::pair<int, int>> parseGoLiveSize(std::string_view text);

// The bit rates offered, lowest first (all within the stream's limits).
const std::vector<std::int64_t>& goLiveBitRates();
// 4.5 Mbit/s at 1280 x 720, 6 Mbit/s at 1920 x 1080.
std::int64_t defaultBitRate(int height);

// <config home>/vantry-pro.
std::filesystem::path goLiveFolder();

// The settings file's text ("name=value" lines, read and written by IniFile: url, enabled, canvas,
// url2, enabled2, canvas2 ... url4, enabled4, canvas4, size, bitrate; a canvas is programCanvasName's
// text, written only for a vertical one). Unknown lines and bad values are ignored; what is
// missing keeps its default.
GoLiveSettings parseGoLiveSettings(std::string_view text);
std::string formatGoLiveSettings(const GoLiveSettings& settings);

// Missing or unreadable files (a named pipe, a device, a folder, a file too large) give the
// defaults.
GoLiveSettings loadGoLiveSettings(const std::filesystem::path& folder);
// Throws std::filesystem::filesystem_error when the file cannot be written.
void saveGoLiveSettings(const std::filesystem::path& folder, const GoLiveSettings& settings);

// The saved key of destination `index` (0 to kGoLiveDestinations - 1), with the key file's
// first line as the key. A key file is refused as the remote secret is: a symbolic link,
// anything but a regular file, a file of another user, one the group or others may read or one
// too large to be a key gives no key and a `problem` naming the file and the reason. A missing
// file is no key and no problem.
struct StreamKeyFile {
    std::string key;
    std::string problem;
};
StreamKeyFile readStreamKey(const std::filesystem::path& folder, int index = 0);
// readStreamKey's key alone (empty when refused).
std::string loadStreamKey(const std::filesystem::path& folder, int index = 0);
// Writes the key into a file that is private from its creation; an empty key removes the file.
void saveStreamKey(const std::filesystem::path& folder, const std::string& key, int index = 0);

// Every saved destination with its key, in order (those without an address included).
struct SavedGoLiveDestination {
    std::string url;
    std::string streamKey;
    bool enabled = true;
    std::string keyProblem;
    ProgramCanvas canvas = ProgramCanvas::landscape;  // why the saved key file was refused (readStreamKey)
};
std::vector<SavedGoLiveDestination> loadGoLiveDestinations(const std::filesystem::path& folder);

}  // namespace vantry::app::feed
