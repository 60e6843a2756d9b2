#include "creator/clips-and-juice/ViralClipLayout.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace vantry::creator::viralclip {

std::int64_t frameCountFor(double durationSeconds, int fps) {
    if (fps <= 0) throw std::invalid_argument("frames per second must be positive");
    const double n = std::trunc(durationSeconds * static_cast<double>(fps));
    // 2^63 is exactly representable; anything at or above it (or NaN) has no count.
    if (!(n > -9.2233720368547758e18 && n < 9.2233720368547758e18))
        throw std::invalid_argument("clip duration times frame rate is not a finite frame count");
    return std::max(static_cast<std::int64_t>(n), kMinimumFrames);
}

double progressAt(std::int64_t frameIndex, std::int64_t frameCount) {
    return static_cast<double>(frameIndex) / static_cast<double>(frameCount - 1);
}

Shake impactShake(double p) {
    Shake s;
    s.punch = std::exp(-14.0 * std::fabs(p - 0.35));
    s.sx = 16.0 * std::sin(90.0 * p) * s.punch;
    s.sy = 12.0 * std::cos(74.0 * p) * s.punch;
    return s;
}

Rect imageRect(double p, const Shake& shake, double imageWidth, double imageHeight) {
    Rect r;
    r.width = kWidth * (1.02 + 0.08 * p);
    r.height = r.width * imageHeight / std::max(imageWidth, 1.0);
    r.x = (kWidth - r.width) / 2 + shake.sx;
    r.y = (kHeight - r.height) / 2 + shake.sy;
    return r;
}

std::string defaultClipFileName(const std::string& gameTitle, std::int64_t unixSeconds) {
    std::string name = gameTitle;
    std::replace(name.begin(), name.end(), ' ', '_');
    // A title is not a path: a slash (or NUL) would lead the file out of the clips folder.
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    return name + "_Highlight_" + std::to_string(unixSeconds) + ".mp4";
}

}  // namespace vantry::creator::viralclip
