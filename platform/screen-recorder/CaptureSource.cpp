#include "platform/screen-recorder/CaptureSource.h"

#include <cstring>

namespace vantry::platform {

std::optional<CaptureSourceChoice> parseCaptureSourceChoice(const std::string& text) {
    if (text == "auto") return CaptureSourceChoice::automatic;
    if (text == "portal") return CaptureSourceChoice::portal;
    if (text == "x11") return CaptureSourceChoice::x11;
    return std::nullopt;
}

const char* captureSourceChoiceName(CaptureSourceChoice choice) {
    switch (choice) {
        case CaptureSourceChoice::portal:
            return "portal";
        case CaptureSourceChoice::x11:
            return "x11";
        case CaptureSourceChoice::automatic:
            break;
    }
    return "auto";
}

const char* capturePathName(CapturePath path) {
    switch (path) {
        case CapturePath::portal:
            return "portal";
        case CapturePath::x11:
            return "x11";
        case CapturePath::none:
            break;
    }
    return "none";
}

bool isWaylandSession(const char* sessionType, const char* waylandDisplay) {
    return (sessionType && std::strcmp(sessionType, "wayland") == 0) || (waylandDisplay && *waylandDisplay);
}

CapturePath chooseCapturePath(CaptureSourceChoice choice, const CaptureSessionFacts& facts) {
    const bool portal = facts.portalAnswers;
    switch (choice) {
        case CaptureSourceChoice::portal:
            return portal ? CapturePath::portal : CapturePath::none;
        case CaptureSourceChoice::x11:
            return facts.xDisplay ? CapturePath::x11 : CapturePath::none;
        case CaptureSourceChoice::automatic:
            break;
    }
    // x11grab on a Wayland session sees only the X clients, not the screen.
    if (facts.waylandSession) return portal ? CapturePath::portal : CapturePath::none;
    return facts.xDisplay ? CapturePath::x11 : CapturePath::none;
}

}  // namespace vantry::platform
