#include "app/program-feed/GoLiveSettings.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include "platform/files/IniFile.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/SettingsFolder.h"

namespace vantry::app::feed {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSettingsFile = "go-live.conf";
constexpr const char* kKeyFile = "stream-key";
// A stream key is one short line; a larger file is not a key file.
constexpr std::uintmax_t kMaxKeyFileBytes = 4096;

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
    return platform::settingsFolder();
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

GoLiveSettings goLiveSettingsFrom(const platform::IniFile& ini) {
    GoLiveSettings s;
    for (int i = 0; i < kGoLiveDestinations; ++i) {
        GoLiveDestination& d = s.destinations[std::size_t(i)];
        if (const auto url = ini.value("url" + suffix(i))) d.url = *url;
        if (const auto enabled = ini.value("enabled" + suffix(i));
            enabled && (*enabled == "0" || *enabled == "1"))
            d.enabled = *enabled == "1";
        if (const auto canvas = ini.value("canvas" + suffix(i)))
            d.canvas = parseProgramCanvas(*canvas).value_or(ProgramCanvas::landscape);
    }
    if (const auto text = ini.value("size")) {
        if (const auto size = parseGoLiveSize(*text)) std::tie(s.width, s.height) = *size;
    }
    if (const auto text = ini.value("bitrate")) {
        std::int64_t rate = 0;
        if (parseNumber(std::string_view(*text), rate) && platform::isStreamVideoBitRate(rate))
            s.bitRate = rate;
    }
    return s;
}

platform::IniFile goLiveIni(const GoLiveSettings& s) {
    platform::IniFile ini;
    for (int i = 0; i < kGoLiveDestinations; ++i) {
        const GoLiveDestination& d = s.destinations[std::size_t(i)];
        // The first server's lines always, as files from before several servers had them.
        if (i > 0 && d.url.empty() && d.enabled && d.canvas == ProgramCanvas::landscape) continue;
        ini.setValue("url" + suffix(i), oneLine(d.url));
        ini.setValue("enabled" + suffix(i), d.enabled ? "1" : "0");
        // Landscape, the default, is left out: the file reads as it did before there were two.
        if (d.canvas != ProgramCanvas::landscape)
            ini.setValue("canvas" + suffix(i), std::string(programCanvasName(d.canvas)));
    }
    ini.setValue("size", std::to_string(s.width) + "x" + std::to_string(s.height));
    ini.setValue("bitrate", std::to_string(s.bitRate));
    return ini;
}

}  // namespace

GoLiveSettings parseGoLiveSettings(std::string_view text) {
    return goLiveSettingsFrom(platform::IniFile::parse(text));
}

std::string formatGoLiveSettings(const GoLiveSettings& s) {
    return goLiveIni(s).text();
}

GoLiveSettings loadGoLiveSettings(const fs::path& folder) {
    return goLiveSettingsFrom(platform::IniFile::load(folder / kSettingsFile));
}

void saveGoLiveSettings(const fs::path& folder, const GoLiveSettings& s) {
    goLiveIni(s).save(folder / kSettingsFile);
}

StreamKeyFile readStreamKey(const fs::path& folder, int index) {
    const fs::path file = keyFile(folder, index);
    const platform::FileContents contents =
        platform::readRegularFile(file, kMaxKeyFileBytes, platform::FileRules::privateToUser);
    if (contents.missing) return {};
    if (!contents.ok())
        return {{}, "the stream key file " + file.string() + " is refused: " + contents.error};
    return {oneLine(contents.bytes), {}};
}

std::string loadStreamKey(const fs::path& folder, int index) {
    return readStreamKey(folder, index).key;
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
        StreamKeyFile key = readStreamKey(folder, i);
        all.push_back({d.url, std::move(key.key), d.enabled, std::move(key.problem), d.canvas});
    }
    return all;
}

}  // namespace vantry::app::feed
