// The in-set presenter's place on the floor: clamping, drag and size steps, and the quad
// that turns to the camera.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "studio/PresenterPlace.h"

namespace {

using vantry::Float3;
using vantry::studio::PresenterPlace;

TEST(PresenterPlace, ClampsToTheSetAndRepairsNonFiniteValues) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        PresenterPlace in, out;
    } cases[] = {
        {{-0.35f, -0.45f, 1.75f}, {-0.35f, -0.45f, 1.75f}},  // the default stays
        {{-9, -9, 0.1f}, {-4.0f, -2.8f, 0.9f}},
        {{9, 9, 9}, {4.0f, 3.0f, 2.6f}},
        {{nan, nan, nan}, {-0.35f, -0.45f, 1.75f}},
    };
    for (const auto& c : cases) EXPECT_EQ(vantry::studio::clampPresenterPlace(c.in), c.out);
}

TEST(PresenterPlace, DragMovesAcrossTheFloorAndSizeStepsScaleTheHeight) {
    const PresenterPlace start;
    const PresenterPlace moved = vantry::studio::dragPresenter(start, 100, 50);
    EXPECT_NEAR(moved.x, start.x + 0.8f, 1e-5f);  // right is +x
    EXPECT_NEAR(moved.z, start.z + 0.4f, 1e-5f);  // down comes towards the cameras
    EXPECT_EQ(moved.height, start.height);
    EXPECT_EQ(vantry::studio::dragPresenter(start, 1e6f, -1e6f).x, vantry::studio::kPresenterMaxX);
    EXPECT_NEAR(vantry::studio::scalePresenter(start, 0.18f).height, 1.75f * 1.18f, 1e-5f);
    EXPECT_EQ(vantry::studio::scalePresenter(start, -0.9f).height, vantry::studio::kPresenterMinHeight);
}

TEST(PresenterPlace, QuadStandsOnTheFloorFacingTheEye) {
    const PresenterPlace place{1, -1, 2};
    for (const Float3 eye : {Float3{1, 2, 5}, Float3{-3, 3, 2}, Float3{6, 1, -1}}) {
        const auto q = vantry::studio::presenterQuad(place, 0.5f, eye);
        EXPECT_EQ(q[0].y, 0);
        EXPECT_EQ(q[2].y, 2);
        // Width = height x aspect, centred on the place.
        EXPECT_NEAR(std::hypot(q[1].x - q[0].x, q[1].z - q[0].z), 1.0f, 1e-5f);
        EXPECT_NEAR((q[0].x + q[1].x) / 2, 1.0f, 1e-5f);
        // The bottom edge is perpendicular to the line to the eye, and bottom-right lies on the
        // eye's right (for an eye at +z, towards +x): the y of (edge x toward-eye) is negative.
        const float ex = eye.x - place.x, ez = eye.z - place.z;
        const float rx = q[1].x - q[0].x, rz = q[1].z - q[0].z;
        EXPECT_NEAR(rx * ex + rz * ez, 0, 1e-4f);
        EXPECT_LT(rz * ex - rx * ez, 0);
    }
}

}  // namespace
