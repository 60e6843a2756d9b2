#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "creator/thermal/OruCameraConeCrowdCullerV1300.h"

using namespace vantry::creator;
namespace culler = vantry::creator::OruCameraConeCrowdCullerV1300;

namespace {
const auto& cool() {
    return OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::coolNominal);
}
const auto& critical() {
    return OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::criticalCoolDown);
}

CrowdVec2 atAngle(float meters, float degrees) {
    const float r = degrees * 3.14159265f / 180.0f;
    return {meters * std::sin(r), meters * std::cos(r)};
}

std::vector<OruCrowdCullDecisionV1300> run(const std::vector<CrowdVec2>& pos, const std::vector<bool>& cloth,
                                           const OruThermalRenderProfileV1300& profile, std::int64_t frame,
                                           CrowdVec2 forward = {0, 1}) {
    return culler::evaluateCrowd(pos, cloth, {0, 0}, forward, profile, frame);
}
}  // namespace

TEST(CrowdCuller, EmptyCrowd) {
    EXPECT_TRUE(run({}, {}, cool(), 0).empty());
}

TEST(CrowdCuller, ConeAndRadius) {
    const auto d = run({{0, -3}, atAngle(10, 95), atAngle(10, 110), {0, -10}, {0, 27}}, {}, cool(), 0);
    ASSERT_EQ(d.size(), 5u);
    EXPECT_TRUE(d[0].isVisible);  // 3 m behind: inside the always-visible radius
    EXPECT_FLOAT_EQ(d[0].distanceMeters, 3.0f);
    EXPECT_TRUE(d[1].isVisible);   // 95 degrees
    EXPECT_FALSE(d[2].isVisible);  // 110 degrees
    EXPECT_FALSE(d[3].isVisible);  // straight behind at 10 m
    EXPECT_FALSE(d[4].isVisible);  // beyond the 26 m cull distance
    EXPECT_FLOAT_EQ(d[4].distanceMeters, 27.0f);
    EXPECT_FALSE(d[4].shouldStepAnimationThisFrame || d[4].allowClothSim || d[4].allowHairSim);
}

TEST(CrowdCuller, ZeroForwardFallsBackToPlusY) {
    const std::vector<CrowdVec2> pos{{0, 10}, {0, -10}};
    EXPECT_EQ(run(pos, {}, cool(), 0, {0, 0}), run(pos, {}, cool(), 0, {0, 1}));
    EXPECT_EQ(run(pos, {}, cool(), 0, {0, 0.00005f}), run(pos, {}, cool(), 0, {0, 1}));
    // A forward vector of any length is normalised.
    EXPECT_EQ(run(pos, {}, cool(), 0, {0, -7}), run(pos, {}, cool(), 0, {0, -1}));
    EXPECT_FALSE(run(pos, {}, cool(), 0, {0, -7})[0].isVisible);
    EXPECT_TRUE(run(pos, {}, cool(), 0, {0, -7})[1].isVisible);
}

TEST(CrowdCuller, CriticalProfileKeepsFourNearestWithoutSimulation) {
    std::vector<CrowdVec2> pos;
    for (int i = 0; i < 8; ++i) pos.push_back({0, 9.0f - static_cast<float>(i)});  // 9, 8, ... 2 m ahead
    const auto d = run(pos, std::vector<bool>(8, true), critical(), 0);
    int visible = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
        EXPECT_EQ(d[i].isVisible, i >= 4) << i;  // the four nearest are the last four
        EXPECT_FALSE(d[i].allowClothSim);
        EXPECT_FALSE(d[i].allowHairSim);
        visible += d[i].isVisible;
    }
    EXPECT_EQ(visible, 4);
}

TEST(CrowdCuller, EqualDistancesKeepInputOrder) {
    std::vector<CrowdVec2> pos(6, CrowdVec2{0, 8});
    const auto d = run(pos, {}, critical(), 0);
    for (std::size_t i = 0; i < d.size(); ++i) EXPECT_EQ(d[i].isVisible, i < 4) << i;
}

TEST(CrowdCuller, OddHalfRateSlotDoesNotSpendBudget) {
    // Frame 1: actor 0 (nearer) is on an odd slot and skips this frame; actor 1 steps and must still
    // find the hot profile's single cloth (and, nearer than 14 m, hair) slot free.
    const auto& hot = OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::hotConservation);
    const auto d = run({{0, 15}, {0, 15.5f}}, {true, true}, hot, 1);
    EXPECT_TRUE(d[0].isVisible);
    EXPECT_FALSE(d[0].shouldStepAnimationThisFrame);
    EXPECT_FALSE(d[0].allowClothSim);
    EXPECT_TRUE(d[1].shouldStepAnimationThisFrame);
    EXPECT_TRUE(d[1].allowClothSim);

    const auto h = run({{0, 12.5f}, {0, 13}}, {}, hot, 1);
    EXPECT_FALSE(h[0].shouldStepAnimationThisFrame);
    EXPECT_FALSE(h[0].allowHairSim);
    EXPECT_TRUE(h[1].allowHairSim);
}

TEST(CrowdCuller, DistanceBoundaries) {
    const std::vector<bool> cloth(4, true);
    // Frame 0: actor i steps on the half-rate schedule when i is even, quarter-rate when i % 4 == 0.
    auto d = run({{0, 16}, {0, 14}, {0, 15.99f}, {0, 13.99f}}, cloth, cool(), 0);
    EXPECT_FALSE(d[0].allowClothSim);  // exactly 16 m: refused
    EXPECT_TRUE(d[0].shouldStepAnimationThisFrame);
    EXPECT_TRUE(d[2].allowClothSim);
    EXPECT_TRUE(d[2].allowHairSim == false);  // 15.99 m is too far for hair
    // Exactly 14 m: hair refused (index 1 is odd at frame 1 → 1 + 1 even → steps).
    d = run({{0, 16}, {0, 14}}, cloth, cool(), 1);
    EXPECT_TRUE(d[1].shouldStepAnimationThisFrame);
    EXPECT_FALSE(d[1].allowHairSim);
    EXPECT_TRUE(d[1].allowClothSim);

    // 11 m is on the half-rate schedule, 19 m on the quarter-rate schedule, 10.99 m always steps.
    for (std::int64_t frame = -8; frame < 8; ++frame) {
        const auto e = run({{0, 11}, {0, 19}, {0, 10.99f}}, {}, cool(), frame);
        EXPECT_EQ(e[0].shouldStepAnimationThisFrame, (frame + 0) % 2 == 0) << frame;
        EXPECT_EQ(e[1].shouldStepAnimationThisFrame, (frame + 1) % 4 == 0) << frame;
        EXPECT_TRUE(e[2].shouldStepAnimationThisFrame);
        EXPECT_TRUE(e[0].isVisible && e[1].isVisible && e[2].isVisible);
    }
}

TEST(CrowdCuller, MissingClothEntriesCountAsFalse) {
    const auto d = run({{0, 2}, {0, 3}, {0, 4}}, {true}, cool(), 0);
    EXPECT_TRUE(d[0].allowClothSim);
    EXPECT_FALSE(d[1].allowClothSim);
    EXPECT_FALSE(d[2].allowClothSim);
    EXPECT_TRUE(d[2].allowHairSim);
}

TEST(CrowdCuller, BudgetsGoToTheNearest) {
    // Cool profile: 4 cloth, 4 hair. Six stepping actors, all with cloth, input order far to near.
    std::vector<CrowdVec2> pos;
    for (int i = 0; i < 6; ++i) pos.push_back({0, 8.0f - static_cast<float>(i)});
    const auto d = run(pos, std::vector<bool>(6, true), cool(), 0);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(d[i].allowClothSim, i >= 2) << i;
        EXPECT_EQ(d[i].allowHairSim, i >= 2) << i;
    }
}

TEST(CrowdCuller, NonFinitePositionsAreNeverVisibleAndDoNotDisturbOrder) {
    const float nan = std::nanf("");
    const auto d = run({{nan, 1}, {0, 3}, {INFINITY, 0}}, {}, critical(), 0);
    EXPECT_FALSE(d[0].isVisible);
    EXPECT_TRUE(d[1].isVisible);
    EXPECT_FALSE(d[2].isVisible);
}

TEST(CrowdCuller, ScratchReuseGivesTheSameAnswer) {
    std::vector<CrowdVec2> pos;
    for (int i = 0; i < 50; ++i)
        pos.push_back({static_cast<float>(i % 7) - 3.0f, static_cast<float>(i % 23)});
    std::vector<OruCrowdCullDecisionV1300> out;
    culler::CrowdCullScratch scratch;
    for (std::int64_t f = 0; f < 3; ++f) {
        culler::evaluateCrowdInto(pos, {}, {0, 0}, {0.3f, 1}, cool(), f, out, scratch);
        EXPECT_EQ(out, culler::evaluateCrowd(pos, {}, {0, 0}, {0.3f, 1}, cool(), f));
    }
}

namespace {
// The rules written out the long way: stable sort of every actor, then one walk.
std::vector<OruCrowdCullDecisionV1300> reference(const std::vector<CrowdVec2>& pos,
                                                 const std::vector<bool>& cloth, CrowdVec2 cam,
                                                 CrowdVec2 fwdIn, const OruThermalRenderProfileV1300& p,
                                                 std::int64_t frame) {
    std::vector<OruCrowdCullDecisionV1300> out(pos.size());
    std::vector<bool> inCone(pos.size());
    const float fl = std::sqrt(fwdIn.x * fwdIn.x + fwdIn.y * fwdIn.y);
    const CrowdVec2 fwd = fl > 1e-4f ? CrowdVec2{fwdIn.x / fl, fwdIn.y / fl} : CrowdVec2{0, 1};
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < pos.size(); ++i) {
        const float dx = pos[i].x - cam.x, dy = pos[i].y - cam.y, dist = std::sqrt(dx * dx + dy * dy);
        out[i].distanceMeters = dist;
        inCone[i] =
            dist < 5.5f ? true
            : dist > p.actorCullDistanceMeters
                ? false
                : fwd.x * (dx / std::max(dist, 0.001f)) + fwd.y * (dy / std::max(dist, 0.001f)) > -0.18f;
        order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return out[a].distanceMeters < out[b].distanceMeters;
    });
    std::int64_t visible = 0, c = 0, h = 0;
    for (const auto i : order) {
        if (!inCone[i] || visible >= p.maxVisibleActors) continue;
        const float d = out[i].distanceMeters;
        const std::int64_t s = frame + static_cast<std::int64_t>(i);
        const bool step = d < 11 ? true : d < 19 ? s % 2 == 0 : s % 4 == 0;
        bool co = false, ho = false;
        if (step) {
            co = d < 16 && i < cloth.size() && cloth[i] && c < p.clothSimBudget;
            c += co;
            ho = d < 14 && h < p.hairSimBudget;
            h += ho;
        }
        out[i] = {true, step, co, ho, d};
        ++visible;
    }
    return out;
}
}  // namespace

TEST(CrowdCuller, MatchesTheLongFormOnRandomCrowds) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> coord(-30, 30);
    for (int round = 0; round < 40; ++round) {
        std::vector<CrowdVec2> pos;
        std::vector<bool> cloth;
        const int n = 1 + round * 7;
        for (int i = 0; i < n; ++i) {
            // Snap some to a grid so equal distances occur.
            CrowdVec2 p{coord(rng), coord(rng)};
            if (i % 3 == 0) p = {std::round(p.x / 4) * 4, std::round(p.y / 4) * 4};
            pos.push_back(p);
            cloth.push_back(rng() % 2 == 0);
        }
        for (auto tier : OruThermalTierV1300::allCases()) {
            const auto& profile = OruThermalRenderProfileV1300::forTier(tier);
            const std::int64_t frame = round - 20;
            const CrowdVec2 fwd{coord(rng), coord(rng)};
            EXPECT_EQ(culler::evaluateCrowd(pos, cloth, {1, -1}, fwd, profile, frame),
                      reference(pos, cloth, {1, -1}, fwd, profile, frame))
                << "round " << round << " tier " << tier.rawValue();
        }
    }
}
