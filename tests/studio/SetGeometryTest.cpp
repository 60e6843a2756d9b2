#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "studio/SetGeometry.h"

using vantry::BroadcastStudioSet;
using vantry::buildStudioSet;
using vantry::Float3;

namespace {

// Box k (0-based, in build order) owns vertices [24k, 24k + 24).
constexpr int kFloor = 0, kBackWall = 1, kFirstSlat = 2, kLeftPillar = 15, kRightPillar = 16, kBezel = 18,
              kScreen = 19, kDeskBody = 20, kDeskStrip = 22;

}  // namespace

TEST(SetGeometry, CountsIndicesAndFirstVertex) {
    for (auto set : BroadcastStudioSet::allCases()) {
        const auto g = buildStudioSet(set);
        ASSERT_EQ(g.vertices.size(), 600u);
        ASSERT_EQ(g.indices.size(), 900u);
        for (auto i : g.indices) EXPECT_LT(i, 600u);
        const std::vector<std::uint32_t> lastSix(g.indices.end() - 6, g.indices.end());
        EXPECT_EQ(lastSix, (std::vector<std::uint32_t>{596, 597, 598, 596, 598, 599}));
        const auto& v0 = g.vertices[0];
        EXPECT_EQ(v0.position, (Float3{-6, -0.1f, 5}));
        EXPECT_EQ(v0.normal, (Float3{0, 0, 1}));
        EXPECT_EQ(v0.uv.x, 0);
        EXPECT_EQ(v0.uv.y, 1);
    }
}

TEST(SetGeometry, SetsDifferOnlyInPaletteBoxes) {
    const auto loft = buildStudioSet(BroadcastStudioSet::manhattanLoft);
    const std::set<int> neonBoxes = {kLeftPillar, kRightPillar, kDeskStrip};
    const std::set<int> timberBoxes = {kBackWall, kDeskBody, kLeftPillar, kRightPillar, kDeskStrip};
    for (auto set : {BroadcastStudioSet::keynoteArena, BroadcastStudioSet::neonCreatorDesk,
                     BroadcastStudioSet::timberPodcast}) {
        const auto other = buildStudioSet(set);
        EXPECT_EQ(loft.indices, other.indices);
        int differing = 0;
        for (int i = 0; i < 600; ++i) {
            const auto& a = loft.vertices[i];
            const auto& b = other.vertices[i];
            EXPECT_EQ(a.position, b.position);
            EXPECT_EQ(a.matTag, b.matTag);
            if (a.color == b.color) continue;
            ++differing;
            const int box = i / 24;
            const bool slat = box >= kFirstSlat && box < kFirstSlat + 13;
            if (set == BroadcastStudioSet::timberPodcast)
                EXPECT_TRUE(timberBoxes.count(box) || slat) << "box " << box;
            else
                EXPECT_TRUE(neonBoxes.count(box)) << "box " << box;
        }
        EXPECT_EQ(differing, set == BroadcastStudioSet::timberPodcast ? 72 + 24 * 15 : 72);
    }
}

TEST(SetGeometry, SlatGapLeavesRoomForTheLEDWall) {
    const auto g = buildStudioSet(BroadcastStudioSet::manhattanLoft);
    std::vector<float> centres;
    for (int s = 0; s < 13; ++s) {
        const int base = (kFirstSlat + s) * 24;
        const float cx = (g.vertices[base].position.x + g.vertices[base + 1].position.x) / 2;
        EXPECT_FALSE(cx > -0.85f && cx < 3.55f) << cx;
        centres.push_back(cx);
    }
    EXPECT_NEAR(centres[8], -1.04f, 1e-5);
    EXPECT_NEAR(centres[9], 3.64f, 1e-5);
    EXPECT_NEAR(centres.front(), -5.2f, 1e-5);
    EXPECT_NEAR(centres.back(), 5.2f, 1e-5);
}

TEST(SetGeometry, LEDScreenFrontFaceAndMaterials) {
    const auto g = buildStudioSet(BroadcastStudioSet::keynoteArena);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(g.vertices[kScreen * 24 + i].matTag, 2.0f);
        EXPECT_EQ(g.vertices[kBezel * 24 + i].matTag, 0.0f);
    }
    // Row 0 of the texture (v = 0) sits on the upper-left corner seen from +z.
    const auto& upperLeft = g.vertices[kScreen * 24 + 3];
    EXPECT_EQ(upperLeft.uv.x, 0);
    EXPECT_EQ(upperLeft.uv.y, 0);
    EXPECT_NEAR(upperLeft.position.x, 1.35f - 1.98f, 1e-5);
    EXPECT_NEAR(upperLeft.position.y, 2.25f + 1.11f, 1e-5);
    EXPECT_NEAR(upperLeft.position.z, -3.04f, 1e-5);
    EXPECT_EQ(g.vertices[kFloor * 24].matTag, 0.0f);
}

TEST(SetGeometry, RebuildingIsIdentical) {
    const auto a = buildStudioSet(BroadcastStudioSet::neonCreatorDesk);
    const auto b = buildStudioSet(BroadcastStudioSet::neonCreatorDesk);
    ASSERT_EQ(a.indices, b.indices);
    EXPECT_EQ(std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(a.vertices[0])),
              0);
}

TEST(SetGeometry, TheWallPassStartsAtTheScreensFirstTriangle) {
    // Box k owns indices [36k, 36k + 36); the screen box is the first with the LED material.
    for (auto set : BroadcastStudioSet::allCases()) {
        EXPECT_EQ(vantry::firstWallIndex(buildStudioSet(set)), std::size_t(36 * kScreen));
    }
    EXPECT_EQ(vantry::firstWallIndex(vantry::SetGeometry{}), 0u);
}

// Clip coordinates equal the points (the identity), so x and y map straight to the viewport:
// bounds are rounded outward by 2 pixels and clamped; a point behind the near plane has none.
TEST(SetGeometry, ProjectedBoundsRoundOutwardClampAndRefuseWhatLiesBehind) {
    using vantry::PixelRect;
    const auto identity = vantry::Float4x4::identity();
    const struct {
        const char* what;
        std::vector<Float3> points;
        float flipY;
        std::optional<PixelRect> expected;
    } cases[] = {
        {"inside", {{-0.5f, 0.0f, 0.5f}, {0.5f, 0.5f, 0.5f}}, 1.0f, PixelRect{23, 23, 54, 17}},
        {"turned over", {{-0.5f, 0.0f, 0.5f}, {0.5f, 0.5f, 0.5f}}, -1.0f, PixelRect{23, 10, 54, 17}},
        {"beyond the edges", {{-3.0f, -0.25f, 0.5f}, {3.0f, 0.25f, 0.5f}}, 1.0f, PixelRect{0, 16, 100, 18}},
        {"out of view", {{2.0f, 0.0f, 0.5f}, {3.0f, 0.5f, 0.5f}}, 1.0f, PixelRect{}},
        {"nothing", {}, 1.0f, PixelRect{}},
        {"behind the near plane", {{0.0f, 0.0f, 0.5f}, {0.2f, 0.2f, -0.1f}}, 1.0f, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vantry::projectedBounds(c.points, identity, c.flipY, 100, 50), c.expected);
    }
    EXPECT_EQ(vantry::unite(PixelRect{10, 10, 5, 5}, PixelRect{0, 20, 2, 2}), (PixelRect{0, 10, 15, 12}));
    EXPECT_EQ(vantry::unite(PixelRect{}, PixelRect{3, 4, 5, 6}), (PixelRect{3, 4, 5, 6}));
}
