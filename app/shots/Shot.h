// A shot: a named snapshot of what the studio picture shows (set, camera angle, the three
// gains, the LED wall's source, Vision Cutout with the presenter's mode, place and size), and how
// the studio switches to it. Pure: no Qt, no platform headers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "studio/PresenterPlace.h"
#include "studio/StudioCatalogue.h"

namespace vantry::app::shots {

// At most nine shots are kept, one for each of the keys 1 to 9.
inline constexpr std::size_t kMaxShots = 9;
// The longest name kept, in bytes of UTF-8.
inline constexpr std::size_t kMaxNameBytes = 160;
// The longest wall image path kept, in bytes.
inline constexpr std::size_t kMaxPathBytes = 4096;
// The highest deck page a shot keeps.
inline constexpr int kMaxSlidePage = 100000;

// How the studio switches to a shot: at once, or with the camera gliding to the shot's angle
// (only while the set stays the same; another set is always a cut).
enum class Transition { cut, move };

// What the LED wall shows: its own picture, a picture file, a page of a PDF deck, a video file
// or a shared screen.
enum class WallKind { builtIn, picture, pdf, video, screen };

// The gains' ranges (the window's sliders); a stored value outside is clamped.
inline constexpr float kMinKeyGain = 0.4f;
inline constexpr float kMaxKeyGain = 2.4f;
inline constexpr float kMinNeonGain = 0.2f;
inline constexpr float kMaxNeonGain = 2.5f;
inline constexpr float kMinLedBrightness = 0.5f;
inline constexpr float kMaxLedBrightness = 1.8f;

struct Shot {
    std::string name;
    BroadcastStudioSet set = BroadcastStudioSet::manhattanLoft;
    BroadcastCameraAngle angle = BroadcastCameraAngle::wideDesk;
    float keyGain = 1.35f;
    float neonGain = 1.25f;
    float ledBrightness = 1.15f;
    std::string wallImage;  // the wall picture's, deck's or video's file; empty: none
    WallKind wallKind = WallKind::builtIn;
    int slidePage = 1;  // the deck's page, from 1
    bool visionCutout = false;
    bool presenterInSet = false;  // "Stand in Set" (true) or floating
    studio::PresenterPlace presenterPlace;
    Transition transition = Transition::cut;
    float moveSeconds = 1.0f;  // 0.3..3
    friend bool operator==(const Shot&, const Shot&) = default;
};

// "cut" or "move".
const char* transitionName(Transition transition);

// "builtIn", "picture", "pdf", "video", "screen"; and back (nothing for another name).
const char* wallKindName(WallKind kind);
std::optional<WallKind> wallKindFromName(std::string_view name);

// What the shot's wall shows: a shot that names a file without a kind of file (as shots of
// earlier versions did) shows it as a picture; one that names no file shows the studio's own
// picture, unless it shares the screen.
WallKind wallShows(const Shot& shot);

}  // namespace vantry::app::shots
