// The vertical canvas's camera: at every angle its lens holds the desk, the presenter's place and
// the wall's screen inside the tall frame from every pose of the angle's motion, and no wider
// than that needs; the landscape lens is the 44 degree projection exactly; a move glides from the
// lens it began with to the destination's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "studio/FrameKey.h"
#include "studio/PresenterPlace.h"
#include "studio/SetGeometry.h"
#include "studio/gpu/StudioCamera.h"

namespace vantry::studio::camera {
namespace {

constexpr float kTallAspect = 9.0f / 16.0f;

// What the tall frame must show, taken from a set as built: the desk's and the wall screen's
// vertices (by material) and the presenter's default place, feet and top.
struct Part {
    const char* what;
    std::vector<Float3> points;
};

std::vector<Part> partsToShow() {
    const SetGeometry set = buildStudioSet(BroadcastStudioSet::keynoteArena);
    Part desk{"the desk", {}};
    Part wall{"the wall's screen", {}};
    for (const StageVertex& v : set.vertices) {
        if (v.matTag == material::kDesk) desk.points.push_back(v.position);
        if (v.matTag == material::kLEDWall) wall.points.push_back(v.position);
    }
    const PresenterPlace place;
    return {desk, wall, {"the presenter's place", {{place.x, 0, place.z}, {place.x, place.height, place.z}}}};
}

// Normalised device x, y of a point (w > 0 checked by the caller through depth).
struct Projected {
    float x, y, w;
};
Projected project(const Float4x4& m, Float3 p) {
    float c[4];
    for (int row = 0; row < 4; ++row)
        c[row] = m.at(row, 0) * p.x + m.at(row, 1) * p.y + m.at(row, 2) * p.z + m.at(row, 3);
    return {c[0] / c[3], c[1] / c[3], c[3]};
}

// A still angle's one pose, or a moving angle's whole motion (it repeats within 20 pi seconds)
// more finely than the lens samples it.
std::vector<float> timesOf(BroadcastCameraAngle angle) {
    if (!angleMoves(angle)) return {0.0f};
    std::vector<float> times;
    for (float t = 0; t < float(20.0 * std::numbers::pi); t += 0.05f) times.push_back(t);
    return times;
}

TEST(VerticalCameraFraming, EachAngleHoldsTheDeskThePresentersPlaceAndTheWallInsideTheTallFrame) {
    const std::vector<Part> parts = partsToShow();
    for (const BroadcastCameraAngle angle : BroadcastCameraAngle::allCases()) {
        const Lens lens = verticalLens(angle);
        float widest = 0;  // the farthest any point lies from the middle
        for (const float t : timesOf(angle)) {
            const Float4x4 viewProj = lensViewProj(cameraRig(angle, t), lens, kTallAspect);
            for (const Part& part : parts) {
                SCOPED_TRACE(::testing::Message() << angle.rawValue() << " at " << t << ": " << part.what);
                ASSERT_FALSE(part.points.empty());
                for (const Float3& p : part.points) {
                    const Projected q = project(viewProj, p);
                    ASSERT_GT(q.w, 0.1f);
                    ASSERT_LE(std::fabs(q.x), 1.0f) << "across";
                    ASSERT_LE(std::fabs(q.y), 1.0f) << "up";
                    widest = std::max({widest, std::fabs(q.x), std::fabs(q.y)});
                }
            }
        }
        // The narrowest lens that holds them: some point reaches the margin.
        EXPECT_GT(widest, 1.0f - kVerticalFrameMargin - 0.01f) << angle.rawValue();
        EXPECT_GT(lens.fovY, landscapeLens().fovY)
            << "the tall frame holds the set only through a wider lens";
        EXPECT_LT(lens.fovY, float(std::numbers::pi * 0.75));
    }
}

TEST(VerticalCameraFraming, TheLandscapeCanvasKeepsTheStudioProjectionBitForBit) {
    for (const BroadcastCameraAngle angle : BroadcastCameraAngle::allCases()) {
        for (const float aspect : {16.0f / 9.0f, 1.0f, 9.0f / 16.0f}) {
            const CameraPose pose = cameraRig(angle, 2.5f);
            const Float4x4 expected = studioProjection(aspect) * lookAt(pose.eye, pose.target, {0, 1, 0});
            EXPECT_EQ(canvasLens(ProgramCanvas::landscape, angle), landscapeLens());
            const StageUniforms u =
                makeStageUniforms(BroadcastStudioSet::manhattanLoft, pose, 2.5f, 1.35f, 1.25f, 1.15f, aspect);
            EXPECT_EQ(std::memcmp(&u.viewProj, &expected, sizeof expected), 0) << angle.rawValue();
            const Float4x4 vertical = lensViewProj(pose, canvasLens(ProgramCanvas::vertical, angle), aspect);
            EXPECT_NE(std::memcmp(&vertical, &expected, sizeof expected), 0) << angle.rawValue();
        }
    }
}

TEST(VerticalCameraFraming, AMoveGlidesFromTheLensItBeganWithToTheDestinations) {
    const Lens from = verticalLens(BroadcastCameraAngle::wideDesk);
    const Lens to = verticalLens(BroadcastCameraAngle::tightHost);
    const CameraMove move{cameraRig(BroadcastCameraAngle::wideDesk, 4.0f), 4.0f, 2.0f, from};
    const struct {
        float t;
        float weight;  // of the destination
    } cases[] = {{4.0f, 0.0f}, {5.0f, 0.5f}, {6.0f, 1.0f}, {9.0f, 1.0f}, {3.0f, 1.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.t);
        const Lens at = movedVerticalLens(move, BroadcastCameraAngle::tightHost, c.t);
        EXPECT_NEAR(at.fovY, from.fovY + (to.fovY - from.fovY) * c.weight, 1e-5f);
        EXPECT_NEAR(at.lift, from.lift + (to.lift - from.lift) * c.weight, 1e-5f);
    }
    // A move that began with no lens of its own shows the destination's.
    const CameraMove plain{cameraRig(BroadcastCameraAngle::wideDesk, 4.0f), 4.0f, 2.0f};
    EXPECT_EQ(movedVerticalLens(plain, BroadcastCameraAngle::tightHost, 4.5f), to);
}

}  // namespace
}  // namespace vantry::studio::camera
