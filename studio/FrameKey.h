// What the studio picture depends on. Two frames with equal keys are the same picture, so a
// renderer that kept the last one shows it again instead of drawing. Pure: no Qt, no GL.
#pragma once

#include <cstdint>
#include <optional>

#include "studio/ColourMatch.h"
#include "studio/PresenterPlace.h"
#include "studio/ProgramCanvas.h"
#include "studio/StudioCatalogue.h"

namespace vantry::studio {

// True for the angles whose camera moves with the animation clock (the wide desk's sway and
// the crane); the others give the same picture at every time.
constexpr bool angleMoves(BroadcastCameraAngle angle) {
    return angle == BroadcastCameraAngle::wideDesk || angle == BroadcastCameraAngle::sweepingCrane;
}

// The studio without the presenter standing in it.
struct StageKey {
    BroadcastStudioSet set = BroadcastStudioSet::manhattanLoft;
    std::uint64_t setVersion = 0;  // a reload rebuilds the buffers
    BroadcastCameraAngle angle = BroadcastCameraAngle::wideDesk;
    float time = 0;                // 0 at the still angles unless the camera moves between angles
    std::uint64_t cameraMove = 0;  // which move between angles runs (0: none)
    float keyLightGain = 0;
    float neonAccentGain = 0;
    float ledWallBrightness = 0;
    std::uint64_t wallVersion = 0;  // the wall picture's identity
    int width = 0;
    int height = 0;
    ProgramCanvas canvas = ProgramCanvas::landscape;  // whose camera films it
    friend bool operator==(const StageKey&, const StageKey&) = default;
};

// The presenter standing in the set: which camera picture (and its size), where, and the
// colour match's gains on it (quantised: a steady match draws nothing new).
struct PresenterKey {
    std::uint64_t pictureVersion = 0;
    int pictureWidth = 0;
    int pictureHeight = 0;
    PresenterPlace place;
    QuantisedGains colourGains = kUnitGains;
    friend bool operator==(const PresenterKey&, const PresenterKey&) = default;
};

struct FrameKey {
    StageKey stage;
    std::optional<PresenterKey> presenter;  // none: nobody stands in the set
    friend bool operator==(const FrameKey&, const FrameKey&) = default;
};

// The stage key of a frame; the time only counts where the angle moves or while a move between
// angles (cameraMove, 0 for none) runs, so every frame of a move is a new picture.
inline StageKey makeStageKey(BroadcastStudioSet set, std::uint64_t setVersion, BroadcastCameraAngle angle,
                             float time, float keyLightGain, float neonAccentGain, float ledWallBrightness,
                             std::uint64_t wallVersion, int width, int height, std::uint64_t cameraMove = 0,
                             ProgramCanvas canvas = ProgramCanvas::landscape) {
    return {set,         setVersion,   angle,          angleMoves(angle) || cameraMove != 0 ? time : 0.0f,
            cameraMove,  keyLightGain, neonAccentGain, ledWallBrightness,
            wallVersion, width,        height,         canvas};
}

}  // namespace vantry::studio
