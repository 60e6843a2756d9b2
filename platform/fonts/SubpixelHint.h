// Whether the desktop asks for subpixel (coloured) text antialiasing, read from
// the X resource database text (the RESOURCE_MANAGER property of the root window).
#pragma once

#include <string_view>

namespace vantry::platform {

// True when the resources set Xft.rgba to rgb, bgr, vrgb or vbgr; false for none,
// for an unknown value and when the resource is missing.
bool xresourcesAskForSubpixelText(std::string_view resources);

}  // namespace vantry::platform
