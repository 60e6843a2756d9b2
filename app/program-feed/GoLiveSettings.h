// The GO LIVE settings kept between runs: server URL, picture size and bit rate in one file,
// the stream key alone in a private file (mode 0600), both in the user's config folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vantry::app::feed {

struct GoLiveSettings {
    std::string url;
    int width = 1280;
    int height = 720;
    std::int64_t bitRate = 4'500'000;
};

// The bit rates offered, lowest first.
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
