// Camera moves between angles: the glide's eye and target along the way, the hand-over to the
// destination angle's own motion, and the durations allowed.
#include <gtest/gtest.h>

#include <cmath>

#include "studio/gpu/StudioCamera.h"

namespace vantry::studio::camera {
namespace {

float distance(Float3 a, Float3 b) {
    return length(a - b);
}

void expectNear(Float3 actual, Float3 expected, float tolerance, const char* what) {
    EXPECT_LE(distance(actual, expected), tolerance)
        << what << " (" << actual.x << ", " << actual.y << ", " << actual.z << ") vs (" << expected.x << ", "
        << expected.y << ", " << expected.z << ")";
}

TEST(CameraMove, EyeAndTargetAtStartMiddleAndEnd) {
    const struct {
        BroadcastCameraAngle from;
        BroadcastCameraAngle to;
        float start;
        float duration;
    } cases[] = {
        {BroadcastCameraAngle::screenShoulder, BroadcastCameraAngle::tightHost, 4.0f, 1.0f},
        {BroadcastCameraAngle::tightHost, BroadcastCameraAngle::sweepingCrane, 10.0f, 2.5f},
        {BroadcastCameraAngle::sweepingCrane, BroadcastCameraAngle::wideDesk, 31.5f, 0.3f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to.rawValue());
        const CameraMove move{cameraRig(c.from, c.start), c.start, c.duration};
        const CameraPose atStart = movedPose(move, c.to, c.start);
        expectNear(atStart.eye, move.from.eye, 1e-5f, "start eye");
        expectNear(atStart.target, move.from.target, 1e-5f, "start target");

        // Halfway the easing is at one half: the midpoint of the old pose and the new angle's
        // pose at that very time.
        const float middle = c.start + c.duration / 2;
        const CameraPose destination = cameraRig(c.to, middle);
        const CameraPose atMiddle = movedPose(move, c.to, middle);
        expectNear(atMiddle.eye, (move.from.eye + destination.eye) * 0.5f, 1e-4f, "middle eye");
        expectNear(atMiddle.target, (move.from.target + destination.target) * 0.5f, 1e-4f, "middle target");
        EXPECT_TRUE(moveRunning(move, middle));

        const float end = c.start + c.duration;
        const CameraPose atEnd = movedPose(move, c.to, end);
        expectNear(atEnd.eye, cameraRig(c.to, end).eye, 1e-4f, "end eye");
        expectNear(atEnd.target, cameraRig(c.to, end).target, 1e-4f, "end target");
        EXPECT_FALSE(moveRunning(move, end + 1e-3f));
    }
}

TEST(CameraMove, TheMovingAngleTakesOverWithoutAJump) {
    // The crane moves on its own; the glide's last steps and the crane's own first steps after
    // the end must be as short as the crane's own steps are.
    const CameraMove move{cameraRig(BroadcastCameraAngle::tightHost, 20.0f), 20.0f, 1.2f};
    const float end = 21.2f;
    const float step = 1.0f / 120.0f;
    const BroadcastCameraAngle crane = BroadcastCameraAngle::sweepingCrane;
    const float ownStep = distance(cameraRig(crane, end + step).eye, cameraRig(crane, end).eye);
    for (int n = -3; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const float t = end + float(n) * step;
        const CameraPose a = movedPose(move, crane, t);
        const CameraPose b = movedPose(move, crane, t + step);
        EXPECT_LE(distance(a.eye, b.eye), ownStep * 1.5f);
        EXPECT_LE(distance(a.target, b.target), 1e-3f);
        if (n >= 0) expectNear(a.eye, cameraRig(crane, t).eye, 1e-5f, "the crane's own eye");
    }
}

TEST(CameraMove, DurationsAreClampedAndEasingIsFlatAtBothEnds) {
    const struct {
        float seconds;
        float expected;
    } durations[] = {{0.0f, 0.3f}, {0.1f, 0.3f}, {0.3f, 0.3f}, {1.7f, 1.7f},
                     {3.0f, 3.0f}, {9.0f, 3.0f}, {NAN, 1.0f},  {INFINITY, 1.0f}};
    for (const auto& d : durations) EXPECT_EQ(clampMoveDuration(d.seconds), d.expected) << d.seconds;

    EXPECT_EQ(easeInOut(-1.0f), 0.0f);
    EXPECT_EQ(easeInOut(0.5f), 0.5f);
    EXPECT_EQ(easeInOut(2.0f), 1.0f);
    EXPECT_LT(easeInOut(0.01f), 0.001f);
    EXPECT_GT(easeInOut(0.99f), 0.999f);
}

// The floor point under the pointer, at every angle (the moving ones at a few times) and for
// points across the view: the frame's own projection puts it back under the pointer, on y = 0.
TEST(FloorPoint, ProjectsBackUnderThePointerAtEveryAngle) {
    const float aspect = 16.0f / 9.0f;
    for (int id = 0; id < 4; ++id) {
        const BroadcastCameraAngle angle = *BroadcastCameraAngle::fromRawValue(id);
        for (float t : {0.0f, 1.7f, 6.3f}) {
            const CameraPose pose = cameraRig(angle, t);
            const Float4x4 viewProj = studioProjection(aspect) * lookAt(pose.eye, pose.target, {0, 1, 0});
            int hits = 0;
            for (float u = 0.05f; u < 1.0f; u += 0.15f) {
                for (float v = 0.05f; v < 1.0f; v += 0.15f) {
                    const auto floor = floorPointAt(pose, aspect, u, v);
                    if (!floor) continue;
                    ++hits;
                    SCOPED_TRACE(testing::Message()
                                 << "angle " << id << " t " << t << " at " << u << ", " << v);
                    EXPECT_EQ(floor->y, 0.0f);
                    const auto& m = viewProj.columns;
                    const Float3 p = *floor;
                    const float x = m[0].x * p.x + m[1].x * p.y + m[2].x * p.z + m[3].x;
                    const float y = m[0].y * p.x + m[1].y * p.y + m[2].y * p.z + m[3].y;
                    const float w = m[0].w * p.x + m[1].w * p.y + m[2].w * p.z + m[3].w;
                    ASSERT_GT(w, 0.0f);  // in front of the camera
                    EXPECT_NEAR(x / w * 0.5f + 0.5f, u, 1e-3f);
                    EXPECT_NEAR(0.5f - y / w * 0.5f, v, 1e-3f);
                }
            }
            // The lower part of every view shows the floor.
            EXPECT_GE(hits, 14) << "angle " << id;
            // The view's bottom centre is on the floor; its top (above the horizon) is not.
            EXPECT_TRUE(floorPointAt(pose, aspect, 0.5f, 0.98f));
        }
    }
    EXPECT_FALSE(floorPointAt(cameraRig(BroadcastCameraAngle::screenShoulder, 0), aspect, 0.5f, 0.0f));
}

}  // namespace
}  // namespace vantry::studio::camera
