// Which way the screen is captured: FFmpeg's x11grab on an X session, or the desktop portal's
// screen cast (a PipeWire stream of the screen or window the user picks) on a Wayland session.
// Pure: the caller gathers the facts from the environment and the session bus.
#pragma once

#include <optional>
#include <string>

namespace vantry::platform {

// What the user asked for ("auto", "portal", "x11").
enum class CaptureSourceChoice { automatic, portal, x11 };

// The path a recording takes; none: nothing on this session can be captured.
enum class CapturePath { none, portal, x11 };

struct CaptureSessionFacts {
    bool waylandSession = false;  // XDG_SESSION_TYPE=wayland or WAYLAND_DISPLAY set
    bool xDisplay = false;        // DISPLAY set
    bool portalAnswers = false;   // the screen cast portal answered on the session bus
};

std::optional<CaptureSourceChoice> parseCaptureSourceChoice(const std::string& text);
const char* captureSourceChoiceName(CaptureSourceChoice choice);
const char* capturePathName(CapturePath path);  // "portal", "x11" or "none"

// From the session's environment values (null: unset).
bool isWaylandSession(const char* sessionType, const char* waylandDisplay);

// Automatic: on a Wayland session the portal where it answers (else none: x11grab would see
// only the X clients); elsewhere x11grab where there is an X display. An explicit choice is
// taken when its facts allow it, else none.
CapturePath chooseCapturePath(CaptureSourceChoice choice, const CaptureSessionFacts& facts);

}  // namespace vantry::platform
