#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "creator/clips-and-juice/OruJuicePhysicsKernelV1030.h"

using namespace vantry::creator;

TEST(JuiceKernel, ImpactIntensityIsClamped) {
    OruJuicePhysicsKernelV1030 k;
    k.triggerImpact(0, 0);
    EXPECT_DOUBLE_EQ(k.trauma, 0.0425);
    EXPECT_DOUBLE_EQ(k.squashScaleX, 1.014);
    EXPECT_DOUBLE_EQ(k.squashScaleY, 0.988);
    EXPECT_EQ(k.totalImpactCount, 1);

    OruJuicePhysicsKernelV1030 big;
    big.triggerImpact(2, 0);
    EXPECT_DOUBLE_EQ(big.squashScaleX, 1.28);
    EXPECT_DOUBLE_EQ(big.squashScaleY, 0.76);
    big.triggerImpact(2, 0);
    EXPECT_EQ(big.trauma, 1.0);
    EXPECT_EQ(big.totalImpactCount, 2);

    OruJuicePhysicsKernelV1030 nan;
    nan.triggerImpact(std::nan(""), 0);
    EXPECT_DOUBLE_EQ(nan.trauma, 0.85);
    EXPECT_DOUBLE_EQ(nan.squashScaleY, 0.76);
}

TEST(JuiceKernel, HitStopNeverShortensAndStepsAreClamped) {
    OruJuicePhysicsKernelV1030 k;
    k.triggerImpact(1, 0.1);
    k.triggerImpact(1, 0.02);
    EXPECT_DOUBLE_EQ(k.hitStopRemaining, 0.1);
    EXPECT_TRUE(k.step(0.2));  // counts 0.05
    EXPECT_FALSE(k.step(0.2));
    EXPECT_EQ(k.hitStopRemaining, 0.0);

    OruJuicePhysicsKernelV1030 fine;
    fine.triggerImpact(1, 0.1);
    fine.step(0.001);  // counts 1/240
    EXPECT_NEAR(fine.hitStopRemaining, 0.1 - 1.0 / 240.0, 1e-12);
    fine.step(std::nan(""));
    EXPECT_NEAR(fine.hitStopRemaining, 0.1 - 2.0 / 240.0, 1e-12);
    EXPECT_EQ(juiceStepDuration(1.0 / 240.0), 1.0 / 240.0);
    EXPECT_EQ(juiceStepDuration(0.02), 0.02);
    EXPECT_EQ(juiceStepDuration(-1), 1.0 / 240.0);
    EXPECT_EQ(juiceStepDuration(INFINITY), 0.05);
}

TEST(JuiceKernel, TraumaAndSquashDecay) {
    OruJuicePhysicsKernelV1030 k;
    k.trauma = 0.0009;
    k.step(1.0 / 60.0);
    EXPECT_EQ(k.trauma, 0.0);  // the kernel always decays

    k.triggerImpact(1, 0);
    k.triggerImpact(1, 0);
    EXPECT_EQ(k.trauma, 1.0);
    int steps = 0;
    while (k.trauma > 0) k.step(1.0 / 60.0), ++steps;
    EXPECT_EQ(steps, 32);  // about 0.53 s at 60 Hz
    k.triggerImpact(1, 0);
    k.step(1.0 / 60.0);
    EXPECT_NEAR(k.squashScaleX, 1.28 - 0.28 * (14.0 / 60.0), 1e-12);
    for (int i = 0; i < 200; ++i) k.step(0.05);
    EXPECT_NEAR(k.squashScaleX, 1.0, 1e-9);
    EXPECT_NEAR(k.squashScaleY, 1.0, 1e-9);
}

TEST(JuiceControllerState, PopupCapAndLifetime) {
    OruJuiceControllerStateV1030 c;
    for (int i = 0; i < 13; ++i)
        c.triggerImpact(0.5, 0, true, "hit " + std::to_string(i), 0xFF00FFu, 0.5, 0.5);
    ASSERT_EQ(c.popups.size(), 12u);
    EXPECT_EQ(c.popups.front().text, "hit 1");
    EXPECT_EQ(c.popups.back().text, "hit 12");
    EXPECT_EQ(c.popups.back().colorHex, 0xFF00FFu);
    EXPECT_EQ(c.popups.back().lifetime, 1.35);
    c.triggerImpact(0.5, 0, false, "", 0, 0, 0);
    EXPECT_EQ(c.popups.size(), 12u);
    EXPECT_EQ(c.totalImpactCount, 14);

    std::set<std::string> ids;
    for (const auto& p : c.popups) ids.insert(p.idString());
    EXPECT_EQ(ids.size(), 12u);
    EXPECT_EQ(c.popups[0].idString()[14], '4');

    c.step(0.05);
    EXPECT_NEAR(c.popups[0].normalizedY, 0.5 - 0.085 * 0.05, 1e-12);
    EXPECT_NEAR(c.popups[0].opacity(), 1.0 - 0.05 / 1.35, 1e-12);
    for (int i = 0; i < 26; ++i) c.step(0.05);  // 1.35 s in all
    EXPECT_TRUE(c.popups.empty());
}

TEST(JuiceControllerState, TinyTraumaNeverShakesNorDecays) {
    OruJuiceControllerStateV1030 c;
    c.trauma = 0.0009;
    for (int i = 0; i < 100; ++i) c.step(0.05);
    EXPECT_EQ(c.trauma, 0.0009);
    EXPECT_EQ(c.shakeOffsetWidth, 0.0);
    EXPECT_EQ(c.shakeAngleDeg, 0.0);
    EXPECT_NEAR(c.elapsed, 5.0, 1e-9);

    c.triggerImpact(1, 0, false, "", 0, 0, 0);
    c.step(0.02);
    const double t2 = 0.8509 * 0.8509;  // 0.85 + 0.0009
    EXPECT_NEAR(c.shakeOffsetWidth, t2 * 18 * std::sin(78 * c.elapsed), 1e-12);
    EXPECT_NEAR(c.shakeOffsetHeight, t2 * 14 * std::cos(93 * c.elapsed), 1e-12);
    EXPECT_NEAR(c.shakeAngleDeg, t2 * 2.6 * std::sin(64 * c.elapsed), 1e-12);
    EXPECT_NEAR(c.trauma, 0.8509 - 1.9 * 0.02, 1e-12);
}

TEST(JuicePopup, Opacity) {
    OruJuiceFloatingPopupV1030 p("x", 0, 0, 0, 0);
    EXPECT_EQ(p.opacity(), 0.0);
    OruJuiceFloatingPopupV1030 q("y", 0, 0, 0, 2);
    EXPECT_EQ(q.opacity(), 1.0);
    q.age = 1;
    EXPECT_DOUBLE_EQ(q.opacity(), 0.5);
    q.age = 5;
    EXPECT_EQ(q.opacity(), 0.0);
    OruJuiceFloatingPopupV1030 r("z", 0, 0, 0, std::nan(""));
    EXPECT_EQ(r.opacity(), 0.0);
}
