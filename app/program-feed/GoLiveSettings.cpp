#include "app/program-feed/GoLiveSettings.h"

#include <algorithm>
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

namespace {

// "url", "url2" ... : the destination a name belongs to and what it names; -1 for other names.
int destinationOf(std::string_view name, std::string_view base) {
    if (name.substr(0, base.size()) != base) return -1;
    const std::string_view rest = name.substr(base.size());
    if (rest.empty()) return 0;
    if (rest.size() != 1 || rest[0] < '2' || rest[0] > char('0' + kGoLiveDestinations)) return -1;
    return rest[0] - '1';
}

std::string suffix(int index) {
    return index == 0 ? std::string() : std::to_string(index + 1);
}

// One line: anything after a line break would be read as another setting.
std::string oneLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

fs::path keyFile(const fs::path& folder, int index) {
    return folder / (kKeyFile + (index == 0 ? std::string() : "-" + std::to_string(index + 1)));
}

}  // namespace

GoLiveSettings parseGoLiveSettings(std::string_view text) {
    GoLiveSettings s;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        if (const int i = destinationOf(name, "url"); i >= 0) {
            s.destinations[std::size_t(i)].url = std::string(value);
        } else if (const int j = destinationOf(name, "enabled"); j >= 0) {
            if (value == "0" || value == "1") s.destinations[std::size_t(j)].enabled = value == "1";
        } else if (name == "size") {
            if (const auto size = parseGoLiveSize(value)) std::tie(s.width, s.height) = *size;
        } else if (name == "bitrate") {
            std::int64_t rate = 0;
            if (parseNumber(value, rate) && platform::isStreamVideoBitRate(rate)) s.bitRate = rate;
        }
    }
    return s;
}

std::string formatGoLiveSettings(const GoLiveSettings& s) {
    std::ostringstream out;
    for (int i = 0; i < kGoLiveDestinations; ++i) {
        const GoLiveDestination& d = s.destinations[std::size_t(i)];
        // The first server's lines always, as files from before several servers had them.
        if (i > 0 && d.url.empty() && d.enabled) continue;
        out << "url" << suffix(i) << '=' << oneLine(d.url) << '\n'
            << "enabled" << suffix(i) << '=' << (d.enabled ? 1 : 0) << '\n';
    }
    out << "size=" << s.width << 'x' << s.height << '\n' << "bitrate=" << s.bitRate << '\n';
    return out.str();
}

GoLiveSettings loadGoLiveSettings(const fs::path& folder) {
    std::ifstream in(folder / kSettingsFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return parseGoLiveSettings(text.str());
}

void saveGoLiveSettings(const fs::path& folder, const GoLiveSettings& s) {
    platform::SafeOutput::write(folder / kSettingsFile, formatGoLiveSettings(s));
}

std::string loadStreamKey(const fs::path& folder, int index) {
    std::ifstream in(keyFile(folder, index), std::ios::binary);
    std::string key;
    std::getline(in, key);
    return key;
}

void saveStreamKey(const fs::path& folder, const std::string& key, int index) {
    if (key.empty()) {
        std::error_code ec;
        fs::remove(keyFile(folder, index), ec);
        return;
    }
    platform::SafeOutput::write(keyFile(folder, index), oneLine(key) + "\n", 0600);
}

std::vector<SavedGoLiveDestination> loadGoLiveDestinations(const fs::path& folder) {
    const GoLiveSettings settings = loadGoLiveSettings(folder);
    std::vector<SavedGoLiveDestination> all;
    for (int i = 0; i < kGoLiveDestinations; ++i) {
        const GoLiveDestination& d = settings.destinations[std::size_t(i)];
        all.push_back({d.url, loadStreamKey(folder, i), d.enabled});
    }
    return all;
}

}  // namespace vantry::app::feed
