#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "creator/clips-and-juice/ViralClipLayout.h"

using namespace vantry::creator::viralclip;

TEST(ViralClipLayout, FrameCountTruncatesAndNeverGoesBelowOneSecondOfThirty) {
    EXPECT_EQ(frameCountFor(3.0, 30), 90);
    EXPECT_EQ(frameCountFor(0.5, 30), 30);
    EXPECT_EQ(frameCountFor(0.0, 30), 30);
    EXPECT_EQ(frameCountFor(-4.0, 30), 30);
    EXPECT_EQ(frameCountFor(2.0, 30), 60);
    EXPECT_EQ(frameCountFor(1.99, 60), 119);
    EXPECT_EQ(frameCountFor(10.0, 24), 240);
    EXPECT_EQ(frameCountFor(0.5, 240), 120);
}

TEST(ViralClipLayout, FrameCountRejectsWhatHasNoCount) {
    EXPECT_THROW(frameCountFor(3.0, 0), std::invalid_argument);
    EXPECT_THROW(frameCountFor(3.0, -30), std::invalid_argument);
    EXPECT_THROW(frameCountFor(std::numeric_limits<double>::quiet_NaN(), 30), std::invalid_argument);
    EXPECT_THROW(frameCountFor(std::numeric_limits<double>::infinity(), 30), std::invalid_argument);
    EXPECT_THROW(frameCountFor(1e300, 30), std::invalid_argument);
}

TEST(ViralClipLayout, ProgressRunsFromZeroToOne) {
    EXPECT_EQ(progressAt(0, 90), 0.0);
    EXPECT_EQ(progressAt(89, 90), 1.0);
    EXPECT_DOUBLE_EQ(progressAt(31, 90), 31.0 / 89.0);
}

TEST(ViralClipLayout, ShakePeaksAtThirtyFivePercentAndFadesAtBothEnds) {
    std::int64_t strongest = -1;
    double best = -1;
    for (std::int64_t i = 0; i < 90; ++i) {
        const double punch = impactShake(progressAt(i, 90)).punch;
        if (punch > best) best = punch, strongest = i;
    }
    EXPECT_EQ(strongest, 31);
    EXPECT_DOUBLE_EQ(impactShake(0.35).punch, 1.0);
    EXPECT_NEAR(impactShake(0.0).punch, std::exp(-4.9), 1e-12);
    EXPECT_NEAR(impactShake(0.0).punch, 0.007, 0.0005);
    EXPECT_NEAR(impactShake(1.0).punch, std::exp(-9.1), 1e-12);
    const Shake s = impactShake(0.0);
    EXPECT_DOUBLE_EQ(s.sx, 0.0);  // sin(0)
    EXPECT_NEAR(s.sy, 12 * std::exp(-4.9), 1e-12);
    const Shake peak = impactShake(0.35);
    EXPECT_NEAR(peak.sx, 16 * std::sin(31.5), 1e-12);
    EXPECT_NEAR(peak.sy, 12 * std::cos(25.9), 1e-12);
    EXPECT_LE(std::fabs(impactShake(1.0).sx), 16 * std::exp(-9.1));
}

TEST(ViralClipLayout, ImagePushesInFromOneHundredTwoToOneHundredTenPercent) {
    const Shake still{};
    const Rect first = imageRect(0.0, still, 1920, 1080);
    EXPECT_DOUBLE_EQ(first.width, 1080 * 1.02);
    EXPECT_DOUBLE_EQ(first.height, 1080 * 1.02 * 1080 / 1920);
    EXPECT_DOUBLE_EQ(first.x, (1080 - first.width) / 2);
    EXPECT_DOUBLE_EQ(first.y, (1920 - first.height) / 2);
    const Rect last = imageRect(1.0, Shake{1, 5, -3}, 1000, 2000);
    EXPECT_DOUBLE_EQ(last.width, 1080 * 1.10);
    EXPECT_DOUBLE_EQ(last.height, last.width * 2);
    EXPECT_DOUBLE_EQ(last.x, (1080 - last.width) / 2 + 5);
    EXPECT_DOUBLE_EQ(last.y, (1920 - last.height) / 2 - 3);
}

TEST(ViralClipLayout, ZeroWidthImageIsScaledAsOnePixelWide) {
    const Rect r = imageRect(0.5, Shake{}, 0, 3);
    EXPECT_TRUE(std::isfinite(r.height));
    EXPECT_DOUBLE_EQ(r.height, r.width * 3);
}

TEST(ViralClipLayout, DefaultNameReplacesEverySpaceAndKeepsTheCase) {
    EXPECT_EQ(defaultClipFileName("Neon Raid  Night", 1700000000),
              "Neon_Raid__Night_Highlight_1700000000.mp4");
    EXPECT_EQ(defaultClipFileName("solo", 0), "solo_Highlight_0.mp4");
}

TEST(ViralClipLayout, DefaultNameNeverLeavesTheClipsFolder) {
    EXPECT_EQ(defaultClipFileName("../../etc/x", 5), ".._.._etc_x_Highlight_5.mp4");
    EXPECT_EQ(defaultClipFileName(std::string("a\0b", 3), 5), "a_b_Highlight_5.mp4");
}
