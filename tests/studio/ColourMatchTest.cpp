// The presenter's colour match: gains move towards the key light slowly, monotonically and
// bounded over simulated time; an empty mask holds them; off means 1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "studio/ColourMatch.h"

namespace vantry::studio {
namespace {

constexpr float kFrame = 1.0f / 30.0f;

float channel(Float3 c, int i) {
    return i == 0 ? c.x : (i == 1 ? c.y : c.z);
}

float luminance(Float3 c) {
    return 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z;
}

Float3 times(Float3 a, Float3 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}

struct Case {
    const char* name;
    Float3 mean;  // the person's mean linear colour
};

const Case kCases[] = {
    {"too blue", {0.10f, 0.15f, 0.34f}},
    {"too dark", {0.035f, 0.03f, 0.026f}},
    {"too bright and green", {0.45f, 0.70f, 0.40f}},
    {"black", {0.0f, 0.0f, 0.0f}},
};

TEST(ColourMatch, MovesTowardsTheKeyLightMonotonicallyAndBounded) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const PersonColour person{c.mean, 1000};
        const Float3 settled = ColourMatch::settledGains(person, kKeyLightColour);
        ColourMatch match;
        Float3 before = match.gains();
        for (int frame = 0; frame < 300; ++frame) {  // ten seconds at 30 frames a second
            match.update(person, kKeyLightColour, kFrame);
            const Float3 now = match.gains();
            for (int i = 0; i < 3; ++i) {
                const float gap = channel(settled, i) - channel(before, i);
                const float moved = channel(now, i) - channel(before, i);
                EXPECT_GE(moved * gap, 0.0f) << "frame " << frame << " channel " << i;
                EXPECT_LE(std::abs(moved), std::abs(gap) + 1e-6f);
                EXPECT_GE(channel(now, i), ColourMatch::kMinGain);
                EXPECT_LE(channel(now, i), ColourMatch::kMaxGain);
            }
            before = now;
        }
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(channel(before, i), channel(settled, i), 0.02f) << i;
    }
}

TEST(ColourMatch, SettledPictureIsCloserToTheSet) {
    // The too-blue presenter turns warmer; the too-dark one brighter; each stays short of a full
    // correction.
    const PersonColour blue{kCases[0].mean, 1000};
    const Float3 g = ColourMatch::settledGains(blue, kKeyLightColour);
    const Float3 out = times(blue.meanLinear, g);
    const float keyRatio = kKeyLightColour.z / kKeyLightColour.x;
    const float inRatio = blue.meanLinear.z / blue.meanLinear.x;
    const float outRatio = out.z / out.x;
    EXPECT_LT(std::abs(std::log(outRatio / keyRatio)), std::abs(std::log(inRatio / keyRatio)));
    EXPECT_GT(std::abs(std::log(outRatio / keyRatio)), 0.1f);  // partial, not full

    const PersonColour dark{kCases[1].mean, 1000};
    const Float3 d = ColourMatch::settledGains(dark, kKeyLightColour);
    EXPECT_GT(luminance(times(dark.meanLinear, d)), luminance(dark.meanLinear));
    EXPECT_LT(luminance(times(dark.meanLinear, d)), ColourMatch::kTargetLuminance);
    EXPECT_FLOAT_EQ(d.x, ColourMatch::kMaxGain);  // bounded
}

TEST(ColourMatch, OneFrameMovesOnlyALittle) {
    ColourMatch match;
    const PersonColour blue{kCases[0].mean, 1000};
    match.update(blue, kKeyLightColour, kFrame);
    const Float3 settled = ColourMatch::settledGains(blue, kKeyLightColour);
    for (int i = 0; i < 3; ++i) {
        const float gap = std::abs(std::log(channel(settled, i)));
        EXPECT_LT(std::abs(std::log(channel(match.gains(), i))), 0.03f * gap) << i;
    }
    // A long stall steps no further than kMaxStep.
    ColourMatch stalled;
    stalled.update(blue, kKeyLightColour, 60.0f);
    ColourMatch quarter;
    quarter.update(blue, kKeyLightColour, ColourMatch::kMaxStep);
    EXPECT_EQ(stalled.quantised(), quarter.quantised());
}

TEST(ColourMatch, EmptyMaskHoldsAndOffIsOne) {
    ColourMatch match;
    const PersonColour blue{kCases[0].mean, 1000};
    for (int frame = 0; frame < 60; ++frame) match.update(blue, kKeyLightColour, kFrame);
    const Float3 held = match.gains();
    EXPECT_NE(match.quantised(), kUnitGains);
    for (std::size_t samples : {std::size_t(0), ColourMatch::kMinSamples - 1}) {
        for (int frame = 0; frame < 60; ++frame) match.update({{}, samples}, kKeyLightColour, kFrame);
        EXPECT_EQ(match.gains(), held);
    }
    match.setEnabled(false);
    EXPECT_EQ(match.quantised(), kUnitGains);
    for (int frame = 0; frame < 60; ++frame) match.update(blue, kKeyLightColour, kFrame);
    EXPECT_EQ(match.gains(), (Float3{1, 1, 1}));
    EXPECT_EQ(quantisedToGains(match.quantised()), (Float3{1, 1, 1}));
}

TEST(ColourMatch, MeasuresThePersonOnly) {
    // Left half: the person (opaque mid grey, and a half-covered edge column left out); right
    // half: transparent background.
    constexpr int kW = 64, kH = 32;
    std::vector<std::uint8_t> px(std::size_t(kW) * kH * 4, 0);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW / 2; ++x) {
            std::uint8_t* p = &px[(std::size_t(y) * kW + std::size_t(x)) * 4];
            const bool edge = x >= kW / 2 - 4;
            const std::uint8_t a = edge ? 100 : 255;
            const std::uint8_t v = edge ? 10 : 128;  // premultiplied
            p[0] = p[1] = p[2] = v;
            p[3] = a;
        }
    }
    const PersonColour c = measurePersonColour(px.data(), kW, kH, kW * 4);
    EXPECT_EQ(c.samples, std::size_t(kH / kMeasureStep) * std::size_t((kW / 2 - 4) / kMeasureStep));
    const float grey = std::pow(128.0f / 255.0f, 2.2f);
    EXPECT_NEAR(c.meanLinear.x, grey, 1e-5f);
    EXPECT_NEAR(c.meanLinear.z, grey, 1e-5f);
    EXPECT_EQ(measurePersonColour(nullptr, 0, 0, 0).samples, 0u);
}

}  // namespace
}  // namespace vantry::studio
