// The director camera rig and the per-frame numbers of the studio renderer: eye and
// target per angle, view and projection matrices, aspect rules, the uniform block,
// the live clock step and the fallback LED wall image. Pure arithmetic, no GL.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "studio/ProgramCanvas.h"
#include "studio/StageTypes.h"
#include "studio/StudioCatalogue.h"

namespace vantry::studio::camera {

struct CameraPose {
    Float3 eye;
    Float3 target;
};

// What a canvas's camera sees from a pose: the vertical field of view (radians) and how far the
// target is raised (scene units; negative tilts the camera down).
struct Lens {
    float fovY = 0;
    float lift = 0;
    friend bool operator==(const Lens&, const Lens&) = default;
};

// Eye and target of an angle at animation time t (seconds).
CameraPose cameraRig(BroadcastCameraAngle angle, float t);

// A camera move: eye and target glide from `from` (the pose the picture showed when the move
// began, at animation time `start`) to the destination angle's own pose at the current time,
// eased at both ends, so the angle's motion takes over without a jump when the move ends.
struct CameraMove {
    CameraPose from;
    float start = 0;
    float duration = 1;
    // The vertical canvas's lens when the move began (none: the destination angle's).
    std::optional<Lens> fromVerticalLens = std::nullopt;
};

// Move durations outside 0.3..3 seconds are clamped; a non-finite one becomes 1 second.
inline constexpr float kMinMoveSeconds = 0.3f;
inline constexpr float kMaxMoveSeconds = 3.0f;
float clampMoveDuration(float seconds);

// Ease in and out (cubic): 0 at 0, 1 at 1, flat at both ends; p is clamped to 0..1.
float easeInOut(float p);

// Progress of the move at time t, 0..1. A time before the start (a frame rendered at a time
// of its own) counts as after the end: such a frame shows the destination angle.
float moveProgress(const CameraMove& move, float t);
// True while the move still changes the picture at time t.
bool moveRunning(const CameraMove& move, float t);

// The pose at time t of a move to `to`.
CameraPose movedPose(const CameraMove& move, BroadcastCameraAngle to, float t);

// The landscape canvas's lens: 44 degrees vertical, the target as the rig sets it.
Lens landscapeLens();
// The vertical canvas's lens for an angle: the narrowest vertical field of view whose 9:16
// frame holds the desk, the presenter's default place and the LED wall's screen (with a margin
// of kVerticalFrameMargin of the half-frame) from every pose of the angle's motion, with the
// target raised or lowered so that those points sit in the middle of the frame's height.
// Derived from the set's geometry once.
inline constexpr float kVerticalFrameMargin = 0.05f;
Lens verticalLens(BroadcastCameraAngle angle);
// The points verticalLens frames: the desk's and the wall screen's corners and the presenter's
// default place (its feet and the top of the card).
std::vector<Float3> verticalFramePoints();
// The lens of a canvas at an angle.
Lens canvasLens(ProgramCanvas canvas, BroadcastCameraAngle angle);
// The vertical lens at time t of a move to `to`: from the lens it began with to the
// destination's, eased as the pose is.
Lens movedVerticalLens(const CameraMove& move, BroadcastCameraAngle to, float t);

// Right-handed view matrix with the given up vector.
Float4x4 lookAt(Float3 eye, Float3 target, Float3 up);

// Right-handed perspective, 44 degree vertical field of view, near 0.1, far 80,
// clip depth 0..1.
Float4x4 studioProjection(float aspect);
// Projection and view of a pose through a lens (landscapeLens: studioProjection and lookAt,
// exactly).
Float4x4 lensViewProj(const CameraPose& pose, const Lens& lens, float aspect);

// The floor point (y = 0) that shows at viewport point (u, v), each 0..1 from the top-left
// corner, in a picture seen from `pose` through studioProjection(aspect) (the inverse of the
// frame's projection); none where the pointer's ray does not go down to the floor in front of
// the camera (at or above the horizon).
std::optional<Float3> floorPointAt(const CameraPose& pose, float aspect, float u, float v);

// The live view never goes below 1 (portrait surfaces draw square):
// max(1, width / max(height, 1)) in double precision.
float liveAspect(int width, int height);
// Offscreen frames: width / max(height, 1) as floats.
float offscreenAspect(int width, int height);

// The uniform block of one frame seen from `pose`.
StageUniforms makeStageUniforms(BroadcastStudioSet set, const CameraPose& pose, float t, float keyGain,
                                float neonGain, float wallBrightness, float aspect);
// The same through a lens (the eye stays the pose's).
StageUniforms makeStageUniforms(BroadcastStudioSet set, const CameraPose& pose, const Lens& lens, float t,
                                float keyGain, float neonGain, float wallBrightness, float aspect);
// The same from the angle's own pose at time t.
StageUniforms makeStageUniforms(BroadcastStudioSet set, BroadcastCameraAngle angle, float t, float keyGain,
                                float neonGain, float wallBrightness, float aspect);

// A live frame advances the animation by the time since the previous one, kept
// within 0.001..0.05 seconds.
double clampFrameStep(double dt);

// The LED wall image shown until the user loads one: 256 x 144 RGBA, row 0 at the top.
inline constexpr int kFallbackWallWidth = 256;
inline constexpr int kFallbackWallHeight = 144;
std::vector<std::uint8_t> makeFallbackWallPixels();

}  // namespace vantry::studio::camera
