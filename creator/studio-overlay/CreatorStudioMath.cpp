#include "creator/studio-overlay/CreatorStudioMath.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace vantry::creator::studio {
namespace {

// NaN compares false both ways, so it falls through to the lower bound.
double clampTo(double v, double lo, double hi) {
    if (v > hi) return hi;
    if (v >= lo) return v;
    return lo;
}

}  // namespace

double clampScale(double s) {
    return clampTo(s, kMinScale, kMaxScale);
}

SizeD clampOffset(SizeD offset, SizeD area) {
    const double limitX = std::max(area.width * 0.44, 40.0);
    const double limitY = std::max(area.height * 0.42, 40.0);
    return {clampTo(offset.width, -limitX, limitX), clampTo(offset.height, -limitY, limitY)};
}

std::string formattedRecordingTime(std::int64_t ticks) {
    const std::int64_t minutes = ticks / 240;
    const std::int64_t seconds = (ticks / 4) % 60;
    char text[48];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64, minutes, seconds);
    return text;
}

double meterLevel(double nowSeconds, bool micIncluded) {
    if (!micIncluded) return 0.0;
    return std::fabs(std::sin(4.7 * nowSeconds) * std::cos(2.3 * nowSeconds)) * 0.55 + 0.18;
}

std::string recordingFileName(std::string_view gameTitle, double nowSeconds) {
    std::string name(gameTitle);
    std::replace(name.begin(), name.end(), ' ', '_');
    // A title must not reach outside the clips folder: no folder separators, no NUL.
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    // Truncated toward zero; a clock outside the 64-bit range is pinned to its end.
    double whole = std::trunc(nowSeconds);
    if (!(whole == whole)) whole = 0;
    whole = std::clamp(whole, -9.2e18, 9.2e18);
    return name + "_CreatorRec_" + std::to_string(static_cast<std::int64_t>(whole)) + ".mp4";
}

BorderStyle presenterBorder(bool recording, double micLevel, bool freeCutout) {
    BorderStyle style = recording         ? BorderStyle{0xff, 0x45, 0x3a, 1.0, 3}
                        : micLevel > 0.35 ? BorderStyle{0x64, 0xd2, 0xff, 1.0, 2}
                                          : BorderStyle{0xff, 0xff, 0xff, 0.45, 2};
    if (freeCutout) style.width = 0;
    return style;
}

}  // namespace vantry::creator::studio
