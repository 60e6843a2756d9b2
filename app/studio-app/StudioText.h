// The texts the studio window and its view model show. Pure functions, no Qt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "studio/StudioCatalogue.h"

namespace vantry::app {

inline constexpr std::string_view kSlidePanelTitle = "Select Slide or Demo Graphic for 3D LED Wall";
inline constexpr std::string_view kExportPanelTitle = "Export 1080p Studio Broadcast MP4";

// "Switched Studio Set: " + the set's title.
std::string switchedSetBanner(BroadcastStudioSet set);
// "Mounted " + file name + " onto 3D LED Wall".
std::string mountedSlideBanner(std::string_view fileName);
// "Exported 1080p Studio Broadcast (%.1f MB)" of bytes / 2^20.
std::string exportedBanner(std::int64_t bytes);
// "Export failed: " + reason (the reason with surrounding blanks removed; a
// generic one when none is given).
std::string exportFailedBanner(std::string_view reason);
// "Could not load " + file name + " onto the LED Wall".
std::string slideLoadFailedBanner(std::string_view fileName);
// What the wall calls a shared screen, and what the banner says when a share stops.
inline constexpr std::string_view kSharedScreenName = "Screen";
inline constexpr std::string_view kShareStoppedBanner = "Stopped sharing onto 3D LED Wall";
// "Sharing " + what is shared + " onto 3D LED Wall".
std::string sharingBanner(std::string_view name);
// "Could not share the screen: " + reason (without a reason: "Could not share the screen").
std::string screenShareFailedBanner(std::string_view reason);
// "Vantry_" + the set's id + "_1080p.mp4".
std::string proposedExportName(BroadcastStudioSet set);
// "ON AIR · " + the set's title.
std::string onAirText(BroadcastStudioSet set);
// The whole number nearest fps (halves away from zero) + " FPS"; a value that is
// not finite shows as 0 and one beyond the int range is clamped to it.
std::string fpsBadgeText(double fps);
// "%.2f" of a slider value.
std::string gainText(double value);

// An opaque sRGB colour, components 0..1.
struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};
// `over` seen through `top` at opacity alpha (0..1), blended in sRGB as the window draws it.
Rgb compositeOver(Rgb top, double alpha, Rgb over);
// Relative luminance of an sRGB colour (0 black .. 1 white).
double relativeLuminance(Rgb c);
// Contrast ratio of two colours: (lighter + 0.05) / (darker + 0.05), 1..21.
double contrastRatio(Rgb a, Rgb b);

}  // namespace vantry::app
