// The creator studio's small calculations: facecam size and position limits, the recording
// clock text, the synthetic microphone meter, the facecam window's border and the name of a
// saved recording.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantry::creator::studio {

constexpr double kMinScale = 0.55;
constexpr double kMaxScale = 2.2;

struct SizeD {
    double width = 0;
    double height = 0;
    friend bool operator==(const SizeD&, const SizeD&) = default;
};

// min(max(s, 0.55), 2.2); NaN gives 0.55.
double clampScale(double s);

// Each axis limited to +-max(area * 0.44, 40) horizontally and +-max(area * 0.42, 40)
// vertically; a NaN component becomes the negative limit.
SizeD clampOffset(SizeD offset, SizeD area);

// "%02d:%02d" of the meter ticks (four per second): minutes = n / 240, seconds = (n / 4) mod 60,
// both truncated toward zero; minutes are not capped.
std::string formattedRecordingTime(std::int64_t ticks);

// |sin(4.7 t) cos(2.3 t)| * 0.55 + 0.18 with the microphone, exactly 0 without.
double meterLevel(double nowSeconds, bool micIncluded);

// The facecam window's border: colour (8-bit channels, opacity 0 to 1) and width in points.
struct BorderStyle {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    double alpha = 1;
    double width = 0;
    friend bool operator==(const BorderStyle&, const BorderStyle&) = default;
};

// The one border rule: #ff453a and 3 wide while recording; otherwise 2 wide, #64d2ff with the
// meter above 0.35, else white at 0.45 opacity. A free cut-out has none (width 0; the colour is
// still the one above).
BorderStyle presenterBorder(bool recording, double micLevel, bool freeCutout);

// "<title, spaces as underscores>_CreatorRec_<whole seconds>.mp4"; a "/" in the title also becomes
// an underscore, so the name stays one file name.
std::string recordingFileName(std::string_view gameTitle, double nowSeconds);

}  // namespace vantry::creator::studio
