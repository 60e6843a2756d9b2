// The GO LIVE settings kept between runs: server URL, picture size and bit rate in one file,
// the stream key alone in a private file (mode 0600), both in the user's config folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/stream/StreamLimits.h"

namespace vantry::app::feed {

struct GoLiveSettings {
    std::string url;
    int width = 1280;
    int height = 720;
    std::int64_t bitRate = 4'500'000;
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

// Missing or unreadable files give the defaults; unknown lines and bad values are ignored.
GoLiveSettings loadGoLiveSettings(const std::filesystem::path& folder);
// Throws std::filesystem::filesystem_error when the file cannot be written.
void saveGoLiveSettings(const std::filesystem::path& folder, const GoLiveSettings& settings);

// The saved key, or empty.
std::string loadStreamKey(const std::filesystem::path& folder);
// Writes the key into a file that is private from its creation; an empty key removes the file.
void saveStreamKey(const std::filesystem::path& folder, const std::string& key);

}  // namespace vantry::app::feed
