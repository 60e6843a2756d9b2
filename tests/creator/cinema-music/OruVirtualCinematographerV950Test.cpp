#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "creator/cinema-music/OruVirtualCinematographerV950.h"

using namespace vantry::creator;
namespace cine = vantry::creator::OruVirtualCinematographerV950;

TEST(CinemaLens, CatalogueAndRawValues) {
    const auto& all = OruCinemaLensMMV950::allCases();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], OruCinemaLensMMV950::wide24mm);
    EXPECT_EQ(all[3], OruCinemaLensMMV950::portrait85mm);
    for (auto lens : all) {
        EXPECT_EQ(OruCinemaLensMMV950::fromRawValue(lens.rawValue()), lens);
        const float fov = 2.0f * std::atan(24.0f / (2.0f * lens.rawValue())) * 180.0f / cine::kPi;
        EXPECT_NEAR(lens.verticalFOVDegrees(), fov, 1e-4f);
    }
    EXPECT_FLOAT_EQ(OruCinemaLensMMV950(OruCinemaLensMMV950::standard50mm).fStopAperture(), 1.4f);
    EXPECT_FALSE(OruCinemaLensMMV950::fromRawValue(24.0001f));
    EXPECT_FALSE(OruCinemaLensMMV950::fromRawValue(std::nanf("")));
    EXPECT_FALSE(OruCinemaLensMMV950::fromRawValue(0));
}

TEST(CinemaLens, CircleOfConfusion) {
    EXPECT_NEAR(cine::circleOfConfusion01(10, 2, OruCinemaLensMMV950::standard50mm), 0.13187f, 1e-5f);
    EXPECT_NEAR(cine::circleOfConfusion01(4, 2, OruCinemaLensMMV950::portrait85mm), 0.28296f, 1e-5f);
    for (auto lens : OruCinemaLensMMV950::allCases()) {
        EXPECT_EQ(cine::circleOfConfusion01(3, 3, lens), 0.0f);
    }
    // Depth 0 is measured as 0.25 m away (the distance to focus stays |0 - s|).
    const float f = 0.024f, n = 4.0f;
    EXPECT_FLOAT_EQ(cine::circleOfConfusion01(0, 30, OruCinemaLensMMV950::wide24mm),
                    180.0f * (f * f / n) / (30.0f - f) * 30.0f / 0.25f);
    EXPECT_EQ(cine::circleOfConfusion01(0, 2, OruCinemaLensMMV950::portrait85mm), 1.0f);
    EXPECT_LE(cine::circleOfConfusion01(1000, 0, OruCinemaLensMMV950::portrait85mm), 1.0f);
}

TEST(ShotScore, ReferenceScores) {
    auto s = cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, 0);
    EXPECT_EQ(s.totalViralScore, 700);
    EXPECT_EQ(s.estimatedPayoutUSD, 2800);
    EXPECT_EQ(s.verdict, "BROADCAST GRADE FOOTAGE");
    EXPECT_EQ(s.compositionScore01, 1.0f);
    EXPECT_EQ(s.proximityScore01, 1.0f);

    s = cine::scoreFootageFrame({0.5f, 0.5f}, 12, 1, 0);
    EXPECT_EQ(s.totalViralScore, 2450);
    EXPECT_EQ(s.verdict, "PULITZER / VIRAL FRONT-PAGE SHOT!");

    s = cine::scoreFootageFrame({0, 0}, 60, 0, 0);
    EXPECT_EQ(s.compositionScore01, 0.0f);
    EXPECT_FLOAT_EQ(s.proximityScore01, 0.1f);
    EXPECT_EQ(s.totalViralScore, 28);
    EXPECT_EQ(s.estimatedPayoutUSD, 112);
    EXPECT_EQ(s.verdict, "B-ROLL COVERAGE");

    // Single-precision order of operations: 2.1999998 × 700 = 1539.9999 truncates to 1539.
    s = cine::scoreFootageFrame({0.333f, 0.333f}, 12, 0, 20);
    EXPECT_EQ(s.totalViralScore, 1539);
    EXPECT_EQ(s.estimatedPayoutUSD, 6156);
}

TEST(ShotScore, RarityAndSpeedClamps) {
    EXPECT_FLOAT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0.999f, 0).rarityMultiplier, 3.4975f);
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 1, 0).rarityMultiplier, 3.5f);
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 7, 0).rarityMultiplier, 3.5f);
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, -3, 0).rarityMultiplier, 1.0f);
    // 0.06 × 20 lands one float below 1.2, so 20 m/s gives 2.1999998; faster speeds hit the 1.2 cap.
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, 20).totalViralScore, 1539);
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, 21).totalViralScore, 1540);
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, 500).totalViralScore, 1540);
    // Negative speed lowers the score; absurd speeds saturate instead of overflowing.
    EXPECT_LT(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, -5).totalViralScore, 700);
    const auto crazy = cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, -1e30f);
    EXPECT_EQ(crazy.totalViralScore, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(crazy.estimatedPayoutUSD, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(crazy.verdict, "B-ROLL COVERAGE");
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, std::nanf("")).totalViralScore, 0);
}

TEST(ShotScore, KeyedJson) {
    EXPECT_EQ(cine::scoreFootageFrame({0.5f, 0.5f}, 12, 0, 0).encodeJson(),
              "{\"compositionScore01\":1.0,\"proximityScore01\":1.0,\"rarityMultiplier\":1.0,"
              "\"totalViralScore\":700,"
              "\"estimatedPayoutUSD\":2800,\"verdict\":\"BROADCAST GRADE FOOTAGE\"}");
}

TEST(EyeGaze, YawClampAndDart) {
    const CinemaVec3 head{0, 1.7f, 0};
    auto g = cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 1.7f, -5}, 0, 0);
    EXPECT_FLOAT_EQ(g.eyeYawRad, 0.0f);
    EXPECT_EQ(g.eyePitchRad, 0.0f);
    g = cine::evaluateNPCEyeGaze(head, {0, -1}, {5, 1.7f, 0}, 0, 0);
    EXPECT_FLOAT_EQ(g.eyeYawRad, 0.55f);
    g = cine::evaluateNPCEyeGaze(head, {0, -1}, {-5, 1.7f, 0}, 0, 0);
    EXPECT_FLOAT_EQ(g.eyeYawRad, -0.55f);
    // Player behind on the left while facing +x: the raw difference wraps into [-pi, pi].
    g = cine::evaluateNPCEyeGaze(head, {1, 0}, {-5, 1.7f, 0.1f}, 0, 0);
    EXPECT_FLOAT_EQ(std::fabs(g.eyeYawRad), 0.55f);

    const float t = 0.3f;
    g = cine::evaluateNPCEyeGaze(head, {0, -1}, {5, 1.7f, 0}, t, 0.56f);
    const float dart = 0.56f * std::sin(5.2f * t) * 0.24f;
    EXPECT_FLOAT_EQ(g.suspiciousDartOffsetRad, dart);
    EXPECT_FLOAT_EQ(g.eyeYawRad, 0.55f + dart);
    EXPECT_GT(g.eyeYawRad, 0.55f);
    EXPECT_EQ(cine::evaluateNPCEyeGaze(head, {0, -1}, {5, 1.7f, 0}, t, 0.55f).suspiciousDartOffsetRad, 0.0f);
}

TEST(EyeGaze, BlinkAndPitch) {
    const CinemaVec3 head{0, 0, 0};
    EXPECT_FLOAT_EQ(cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 0, -3}, 3.71f, 0).blinkClosed01, 1.0f);
    EXPECT_EQ(cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 0, -3}, 3.62f, 0).blinkClosed01, 0.0f);
    EXPECT_EQ(cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 0, -3}, 1.0f, 0).blinkClosed01, 0.0f);
    EXPECT_NEAR(cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 0, -3}, 3.8f + 3.71f, 0).blinkClosed01, 1.0f,
                1e-3f);

    auto g = cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 4, 0}, 0, 0);  // straight above
    EXPECT_EQ(g.eyePitchRad, 0.35f);
    g = cine::evaluateNPCEyeGaze(head, {0, -1}, {0, -4, 0}, 0, 0);
    EXPECT_EQ(g.eyePitchRad, -0.35f);
    g = cine::evaluateNPCEyeGaze(head, {0, -1}, {0, 1, -10}, 0, 0);
    EXPECT_FLOAT_EQ(g.eyePitchRad, std::atan2(1.0f, 10.0f));
}
