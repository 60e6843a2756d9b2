#include "app/program-feed/GoLiveSettings.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <tuple>

#include "platform/files/SafeOutput.h"
#include "platform/files/UserFolders.h"

namespace vantry::app::feed {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSettingsFile = "go-live.conf";
constexpr const char* kKeyFile = "stream-key";

template <class T>
bool parseNumber(std::string_view text, T& out) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    out = value;
    return true;
}

}  // namespace

const std::vector<std::int64_t>& goLiveBitRates() {
    static const std::vector<std::int64_t> rates{2'500'000, 3'500'000, 4'500'000, 6'000'000, 8'000'000};
    return rates;
}

std::int64_t defaultBitRate(int height) {
    return height >= 1080 ? 6'000'000 : 4'500'000;
}

fs::path goLiveFolder() {
    return platform::UserFolders::configHome() / "vantry-pro";
}

std::optional<std::pair<int, int>> parseGoLiveSize(std::string_view text) {
    int w = 0, h = 0;
    const auto x = text.find('x');
    if (x == std::string_view::npos || !parseNumber(text.substr(0, x), w) ||
        !parseNumber(text.substr(x + 1), h) || !isGoLiveSize(w, h))
        return std::nullopt;
    return std::pair{w, h};
}

GoLiveSettings loadGoLiveSettings(const fs::path& folder) {
    GoLiveSettings s;
    std::ifstream in(folder / kSettingsFile);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (name == "url") {
            s.url = value;
        } else if (name == "size") {
            if (const auto size = parseGoLiveSize(value)) std::tie(s.width, s.height) = *size;
        } else if (name == "bitrate") {
            std::int64_t rate = 0;
            if (parseNumber(value, rate) && platform::isStreamVideoBitRate(rate)) s.bitRate = rate;
        }
    }
    return s;
}

void saveGoLiveSettings(const fs::path& folder, const GoLiveSettings& s) {
    std::ostringstream out;
    // A URL is one line; anything after a line break would be read as another setting.
    out << "url=" << s.url.substr(0, s.url.find_first_of("\r\n")) << '\n'
        << "size=" << s.width << 'x' << s.height << '\n'
        << "bitrate=" << s.bitRate << '\n';
    platform::SafeOutput::write(folder / kSettingsFile, out.str());
}

std::string loadStreamKey(const fs::path& folder) {
    std::ifstream in(folder / kKeyFile, std::ios::binary);
    std::string key;
    std::getline(in, key);
    return key;
}

void saveStreamKey(const fs::path& folder, const std::string& key) {
    if (key.empty()) {
        std::error_code ec;
        fs::remove(folder / kKeyFile, ec);
        return;
    }
    platform::SafeOutput::write(folder / kKeyFile, key.substr(0, key.find_first_of("\r\n")) + "\n", 0600);
}

}  // namespace vantry::app::feed
