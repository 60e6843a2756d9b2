// How big a screen recording can be encoded on this machine without losing frames.
//
// x264 at the fast presets encodes roughly a fixed number of pixels per second per core; a
// screen that needs more than the cores left after capture and conversion can give makes the
// encoder fall behind, and every late frame is then a repeat of the one before. The plan is
// made before the recording starts: first the picture is scaled down to 1280 wide (the screen's
// shape kept), then the preset is lowered, until the load fits.
#pragma once

#include <string>

namespace vantry::platform {

struct CapturePlan {
    int width = 0;  // even
    int height = 0;
    std::string preset;
    // Empty when the screen is recorded at its full size with the asked preset; else one line
    // saying what was changed and why.
    std::string note;
};

// Pixels per second one core encodes at an x264 preset (0 for a preset this plan does not know,
// which is then kept as asked).
double encoderPixelsPerCorePerSecond(const std::string& preset);

// `cores`: the machine's cores (one is left to capture and conversion).
CapturePlan planCapture(int screenWidth, int screenHeight, int fps, unsigned cores,
                        const std::string& preset);

}  // namespace vantry::platform
