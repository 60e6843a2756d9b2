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
// "Vantry_" + the set's id + "_1080p.mp4".
std::string proposedExportName(BroadcastStudioSet set);
// "ON AIR · " + the set's title.
std::string onAirText(BroadcastStudioSet set);
// The whole number nearest fps (halves away from zero) + " FPS"; a value that is
// not finite shows as 0 and one beyond the int range is clamped to it.
std::string fpsBadgeText(double fps);
// "%.2f" of a slider value.
std::string gainText(double value);

}  // namespace vantry::app
