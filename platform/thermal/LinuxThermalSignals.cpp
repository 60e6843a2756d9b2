#include "platform/thermal/LinuxThermalSignals.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>

namespace vantry::platform {

namespace {

std::optional<std::string> readLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::optional<long long> readNumber(const std::filesystem::path& file) {
    const auto line = readLine(file);
    if (!line || line->empty()) return std::nullopt;
    long long v = 0;
    const auto res = std::from_chars(line->data(), line->data() + line->size(), v);
    if (res.ec != std::errc() || res.ptr != line->data() + line->size()) return std::nullopt;
    return v;
}

int zoneState(const std::filesystem::path& zone) {
    const auto temp = readNumber(zone / "temp");
    if (!temp) return 0;
    int state = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(zone, ec)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view prefix = "trip_point_";
        constexpr std::string_view suffix = "_type";
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const auto type = readLine(entry.path());
        const auto trip = readNumber(zone / (name.substr(0, name.size() - suffix.size()) + "_temp"));
        if (!type || !trip || *temp < *trip) continue;
        if (*type == "critical")
            state = std::max(state, 3);
        else if (*type == "hot")
            state = std::max(state, 2);
        else if (*type == "passive")
            state = std::max(state, 1);
    }
    return state;
}

}  // namespace

LinuxThermalSignals::LinuxThermalSignals(std::filesystem::path sysRoot) : root_(std::move(sysRoot)) {}

int LinuxThermalSignals::thermalState() const {
    int state = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "class" / "thermal", ec)) {
        if (entry.path().filename().string().rfind("thermal_zone", 0) != 0) continue;
        state = std::max(state, zoneState(entry.path()));
    }
    return state;
}

bool LinuxThermalSignals::isLowPowerMode() const {
    const auto profile = readLine(root_ / "firmware" / "acpi" / "platform_profile");
    return profile && *profile == "low-power";
}

}  // namespace vantry::platform
