// Where the presenter stands when shown inside the set ("Stand in Set"): a point on the
// floor and a height, in scene units. The presenter is an upright quad whose bottom edge
// rests on the floor and which turns about the vertical axis to face the camera.
#pragma once

#include <array>

#include "common/Vector.h"

namespace vantry::studio {

struct PresenterPlace {
    float x = -0.35f;      // behind the desk's centre
    float z = -0.45f;      // the desk's back face is at z = 0.025
    float height = 1.75f;  // top of the picture above the floor
    friend bool operator==(const PresenterPlace&, const PresenterPlace&) = default;
};

// The floor area the presenter may stand on (between the side pillars, in front of the LED
// wall) and the heights allowed.
inline constexpr float kPresenterMinX = -4.0f;
inline constexpr float kPresenterMaxX = 4.0f;
inline constexpr float kPresenterMinZ = -2.8f;
inline constexpr float kPresenterMaxZ = 3.0f;
inline constexpr float kPresenterMinHeight = 0.9f;
inline constexpr float kPresenterMaxHeight = 2.6f;

// Keeps the place inside the set; a non-finite coordinate falls back to the default place's.
PresenterPlace clampPresenterPlace(PresenterPlace place);

// Scene units per viewport unit of a drag: a drag across a 1280-wide viewport crosses ~10 units.
inline constexpr float kPresenterDragUnitsPerPoint = 0.008f;

// A drag of (dx, dy) viewport units moves the presenter across the floor: right is +x, down
// comes towards the cameras (+z). The result is clamped.
PresenterPlace dragPresenter(PresenterPlace place, float dx, float dy);

// A drag that grabbed the floor at `grabbed` and now points at `pointed` (both on y = 0, where
// the pointer's rays meet the floor) moves the presenter by the difference, so the floor point
// grabbed stays under the pointer. The result is clamped.
PresenterPlace dragPresenterOnFloor(PresenterPlace start, Float3 grabbed, Float3 pointed);

// A size step (the facecam's +-0.18 steps) changes the height by that fraction; clamped.
PresenterPlace scalePresenter(PresenterPlace place, float step);

// The quad's corners in world space, facing an eye at `eye` (turned about y only):
// bottom-left, bottom-right, top-left, top-right as seen from the eye. pictureAspect is the
// picture's width / height.
std::array<Float3, 4> presenterQuad(PresenterPlace place, float pictureAspect, Float3 eye);
// Unit vector across a card standing at `place` and facing the eye (to the right seen from the
// eye), on the floor plane; straight along x when the eye stands on the feet.
Float3 acrossFacing(PresenterPlace place, Float3 eye);

}  // namespace vantry::studio
