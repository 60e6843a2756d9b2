#include "app/studio-app/StudioText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vantry::app {
namespace {

template <typename... A>
std::string format(const char* fmt, A... args) {
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt, args...);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

}  // namespace

std::string switchedSetBanner(BroadcastStudioSet set) {
    return "Switched Studio Set: " + std::string(set.title());
}

std::string mountedSlideBanner(std::string_view fileName) {
    return "Mounted " + std::string(fileName) + " onto 3D LED Wall";
}

std::string exportedBanner(std::int64_t bytes) {
    return format("Exported 1080p Studio Broadcast (%.1f MB)", static_cast<double>(bytes) / 1048576.0);
}

std::string exportFailedBanner(std::string_view reason) {
    const auto first = reason.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return "Export failed: the file could not be written";
    const auto last = reason.find_last_not_of(" \t\r\n");
    return "Export failed: " + std::string(reason.substr(first, last - first + 1));
}

std::string slideLoadFailedBanner(std::string_view fileName) {
    return "Could not load " + std::string(fileName) + " onto the LED Wall";
}

std::string sharingBanner(std::string_view name) {
    return "Sharing " + std::string(name) + " onto 3D LED Wall";
}

std::string screenShareFailedBanner(std::string_view reason) {
    if (reason.empty()) return "Could not share the screen";
    return "Could not share the screen: " + std::string(reason);
}

std::string proposedExportName(BroadcastStudioSet set) {
    return "Vantry_" + std::string(set.id()) + "_1080p.mp4";
}

std::string onAirText(BroadcastStudioSet set) {
    return "ON AIR \u00B7 " + std::string(set.title());
}

std::string fpsBadgeText(double fps) {
    long long whole = 0;
    if (std::isfinite(fps)) {
        const double rounded = std::round(fps);  // halves away from zero
        constexpr double lo = std::numeric_limits<int>::min();
        constexpr double hi = std::numeric_limits<int>::max();
        whole = static_cast<long long>(rounded < lo ? lo : rounded > hi ? hi : rounded);
    }
    return format("%lld FPS", whole);
}

std::string gainText(double value) {
    return format("%.2f", value);
}

Rgb compositeOver(Rgb top, double alpha, Rgb over) {
    const double a = std::clamp(alpha, 0.0, 1.0);
    return {top.r * a + over.r * (1 - a), top.g * a + over.g * (1 - a), top.b * a + over.b * (1 - a)};
}

double relativeLuminance(Rgb c) {
    const auto linear = [](double v) {
        v = std::clamp(v, 0.0, 1.0);
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

double contrastRatio(Rgb a, Rgb b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace vantry::app
