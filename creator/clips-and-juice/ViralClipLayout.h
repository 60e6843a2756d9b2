// The arithmetic of the 9:16 highlight clip: frame count, per-frame progress,
// the impact shake, the image push-in and the default file name. Coordinates
// are those of the drawing: origin bottom-left, y growing upward.
#pragma once

#include <cstdint>
#include <string>

namespace vantry::creator::viralclip {

inline constexpr int kWidth = 1080;
inline constexpr int kHeight = 1920;
inline constexpr std::int64_t kAverageBitRate = 6'500'000;
inline constexpr std::int64_t kMinimumFrames = 30;

// max(trunc(durationSeconds * fps), 30). Throws std::invalid_argument when
// fps is not positive or the product is not a finite 64-bit count.
std::int64_t frameCountFor(double durationSeconds, int fps);

// i / (frameCount - 1): 0 at the first frame, 1 at the last.
double progressAt(std::int64_t frameIndex, std::int64_t frameCount);

struct Shake {
    double punch = 0;  // 1 at p = 0.35, fading on both sides
    double sx = 0;
    double sy = 0;
};
Shake impactShake(double p);

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// Where a source image of imageWidth x imageHeight pixels is drawn at progress
// p: 102 % to 110 % of the frame width, aspect kept, centred, shaken. A
// zero-width image is scaled as if it were one pixel wide.
Rect imageRect(double p, const Shake& shake, double imageWidth, double imageHeight);

// gameTitle with spaces as underscores + "_Highlight_" + seconds + ".mp4".
// Slashes and NUL characters become underscores too, so the name stays one
// file inside the clips folder whatever the title.
std::string defaultClipFileName(const std::string& gameTitle, std::int64_t unixSeconds);

}  // namespace vantry::creator::viralclip
