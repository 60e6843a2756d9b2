#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

using vantry::Float3;
using vantry::creator::OruSpatialVoiceMixResultV1020;
using Dsp = vantry::creator::OruSpatialProximityVoiceDSPV1020;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

const Float3 kOrigin{0, 0, 0};
const Float3 kRight{1, 0, 0};
const Float3 kStill{0, 0, 0};

std::vector<float> tone() {
    return Dsp::generateTestVoiceWave(420.0f, 0.06f, 16000.0f);
}

// The mix as the voice engine runs it, with the speaker placed and moving as given.
OruSpatialVoiceMixResultV1020 mixAt(const std::vector<float>& samples, Float3 speaker,
                                    Float3 velocity = kStill, std::int64_t walls = 0, float wet = 0.24f,
                                    float rate = 16000.0f, float radius = 32.0f) {
    return Dsp::spatializeMonoVoice(samples, rate, kOrigin, kRight, speaker, velocity, walls, wet, radius);
}

std::vector<float> channel(const OruSpatialVoiceMixResultV1020& r, int which) {
    std::vector<float> out;
    for (std::size_t i = static_cast<std::size_t>(which); i < r.stereoInterleavedPCM.size(); i += 2)
        out.push_back(r.stereoInterleavedPCM[i]);
    return out;
}

void expectAllFiniteWithinUnit(const OruSpatialVoiceMixResultV1020& r) {
    for (float s : r.stereoInterleavedPCM) {
        ASSERT_TRUE(std::isfinite(s));
        ASSERT_LE(std::fabs(s), 1.0f);
    }
    for (float v :
         {r.leftRMS, r.rightRMS, r.distanceAttenuation, r.wallCutoffHz, r.dopplerPitchRatio, r.echoEnergy})
        EXPECT_TRUE(std::isfinite(v));
}

// Index of the first frame at which two mixes differ, or -1.
long firstDifference(const OruSpatialVoiceMixResultV1020& a, const OruSpatialVoiceMixResultV1020& b) {
    for (std::size_t i = 0; i < a.stereoInterleavedPCM.size(); ++i)
        if (a.stereoInterleavedPCM[i] != b.stereoInterleavedPCM[i]) return static_cast<long>(i / 2);
    return -1;
}

}  // namespace

TEST(SpatialMix, RightSideSpeakerAsInTheSelfTest) {
    const auto r = mixAt(tone(), Float3{5.2f, 0, -1});
    ASSERT_EQ(r.stereoInterleavedPCM.size(), 1920u);
    EXPECT_NEAR(r.distanceAttenuation, 1.0f / (1.0f + 0.14f * 28.04f), 1e-6f);
    EXPECT_NEAR(r.distanceAttenuation, 0.20302f, 1e-5f);
    EXPECT_GT(r.rightRMS, 2.0f * r.leftRMS);
    EXPECT_GT(r.rightRMS, 0.01f);
    EXPECT_EQ(r.wallCutoffHz, 11000.0f);
    EXPECT_EQ(r.dopplerPitchRatio, 1.0f);
    EXPECT_GT(r.echoEnergy, 0.0f);  // 960 frames outlast the 928-frame echo delay
    expectAllFiniteWithinUnit(r);
}

TEST(SpatialMix, DistanceFadeAndSpeakerOnTheListener) {
    const auto samples = tone();

    // On the listener: distance 0.35, no direction, equal channels.
    const auto same = mixAt(samples, kOrigin);
    EXPECT_NEAR(same.distanceAttenuation, 1.0f / (1.0f + 0.14f * 0.35f * 0.35f), 1e-6f);
    const auto left = channel(same, 0);
    const auto right = channel(same, 1);
    for (std::size_t i = 0; i < left.size(); ++i) ASSERT_NEAR(left[i], right[i], 1e-6f);
    EXPECT_GT(same.leftRMS, 0.1f);
    expectAllFiniteWithinUnit(same);

    // Inside the fade band the gain falls linearly to the edge.
    const auto half = mixAt(samples, Float3{0, 0, -(32.0f - 2.25f)});
    EXPECT_NEAR(half.distanceAttenuation, 0.5f / (1.0f + 0.14f * 29.75f * 29.75f), 1e-7f);
    const auto quarter = mixAt(samples, Float3{0, 0, -(32.0f - 1.125f)});
    EXPECT_NEAR(quarter.distanceAttenuation, 0.25f / (1.0f + 0.14f * 30.875f * 30.875f), 1e-7f);

    // At and beyond the hearing radius: silence, echo line or not.
    for (float d : {32.0f, 40.0f}) {
        const auto gone = mixAt(samples, Float3{d, 0, 0}, kStill, 0, 0.9f);
        EXPECT_EQ(gone.distanceAttenuation, 0.0f);
        for (float s : gone.stereoInterleavedPCM) ASSERT_EQ(s, 0.0f);
        EXPECT_EQ(gone.leftRMS, 0.0f);
        EXPECT_EQ(gone.rightRMS, 0.0f);
    }
}

TEST(SpatialMix, EqualPowerPan) {
    const auto samples = tone();
    const auto right = mixAt(samples, Float3{3, 0, 0});
    for (float s : channel(right, 0)) ASSERT_LT(std::fabs(s), 1e-6f);
    EXPECT_GT(right.rightRMS, 0.01f);

    const auto left = mixAt(samples, Float3{-3, 0, 0});
    for (float s : channel(left, 1)) ASSERT_EQ(s, 0.0f);
    EXPECT_GT(left.leftRMS, 0.01f);

    // Ahead and behind are centred; the right vector's length does not matter.
    for (Float3 where : {Float3{0, 0, -3}, Float3{0, 0, 3}}) {
        const auto centred = mixAt(samples, where);
        EXPECT_NEAR(centred.leftRMS, centred.rightRMS, 1e-6f);
    }
    const auto scaled = Dsp::spatializeMonoVoice(samples, 16000, kOrigin, Float3{7, 0, 0}, Float3{2, 0, -2},
                                                 kStill, 0, 0.24f, 32);
    const auto unit = mixAt(samples, Float3{2, 0, -2});
    EXPECT_NEAR(scaled.leftRMS, unit.leftRMS, 1e-6f);
    EXPECT_NEAR(scaled.rightRMS, unit.rightRMS, 1e-6f);
}

TEST(SpatialMix, DopplerRatioClamps) {
    const std::vector<float> samples(64, 0.2f);
    const Float3 ahead{0, 0, -10};  // moving along -z moves away
    EXPECT_FLOAT_EQ(mixAt(samples, ahead, Float3{0, 0, -10}).dopplerPitchRatio, 343.0f / 385.0f);
    EXPECT_FLOAT_EQ(mixAt(samples, ahead, Float3{0, 0, 20}).dopplerPitchRatio, 343.0f / 259.0f);
    EXPECT_EQ(mixAt(samples, ahead, Float3{0, 0, 53}).dopplerPitchRatio, 1.38f);   // above the upper clamp
    EXPECT_EQ(mixAt(samples, ahead, Float3{0, 0, 60}).dopplerPitchRatio, 1.38f);   // sound speed under 120
    EXPECT_EQ(mixAt(samples, ahead, Float3{0, 0, 500}).dopplerPitchRatio, 1.38f);  // negative sound speed
    EXPECT_EQ(mixAt(samples, ahead, Float3{0, 0, -100}).dopplerPitchRatio, 0.65f);
    // Sideways motion does not shift the pitch.
    EXPECT_EQ(mixAt(samples, ahead, Float3{30, 0, 0}).dopplerPitchRatio, 1.0f);
}

TEST(SpatialMix, FastApproachReadsAheadAndHoldsTheLastSample) {
    std::vector<float> samples(100, 0.0f);
    samples.back() = 1.0f;
    const Float3 ahead{0, 0, -3};
    const auto still = channel(mixAt(samples, ahead, kStill, 0, 0.0f), 0);
    for (std::size_t i = 0; i < 99; ++i) ASSERT_EQ(still[i], 0.0f);
    EXPECT_GT(still[99], 0.0f);

    // Ratio 1.38: from frame 72 on (1.38 · 72 ≥ 99) every frame reads the last sample.
    const auto fast = channel(mixAt(samples, ahead, Float3{0, 0, 60}, 0, 0.0f), 0);
    for (std::size_t i = 0; i < 72; ++i) ASSERT_EQ(fast[i], 0.0f) << i;
    EXPECT_GT(fast[72], 0.0f);
    for (std::size_t i = 73; i < 100; ++i) ASSERT_GE(fast[i], fast[i - 1]) << i;

    // Receding at the lower clamp never reaches the end of the input.
    const auto slow = channel(mixAt(samples, ahead, Float3{0, 0, -100}, 0, 0.0f), 0);
    for (float s : slow) ASSERT_EQ(s, 0.0f);
}

TEST(SpatialMix, WallCutoffs) {
    const std::vector<float> samples(16, 0.1f);
    const Float3 near{1, 0, -1};
    EXPECT_EQ(mixAt(samples, near, kStill, 0).wallCutoffHz, 11000.0f);
    EXPECT_NEAR(mixAt(samples, near, kStill, 1).wallCutoffHz, 3520.0f, 1e-3f);
    EXPECT_NEAR(mixAt(samples, near, kStill, 2).wallCutoffHz, 1126.4f, 1e-3f);
    EXPECT_EQ(mixAt(samples, near, kStill, 3).wallCutoffHz, 480.0f);
    EXPECT_EQ(mixAt(samples, near, kStill, 1000).wallCutoffHz, 480.0f);
    EXPECT_EQ(mixAt(samples, near, kStill, -4).wallCutoffHz, 11000.0f);

    // Each wall muffles a bright voice further.
    const auto bright = Dsp::generateTestVoiceWave(3000.0f, 0.06f, 16000.0f);
    float previous = 2.0f;
    for (int walls = 0; walls <= 3; ++walls) {
        const float rms = mixAt(bright, near, kStill, walls, 0.0f).leftRMS;
        EXPECT_LT(rms, previous) << walls;
        previous = rms;
    }
}

TEST(SpatialMix, EchoDelayLength) {
    const std::vector<float> samples(1200, 0.5f);
    const Float3 near{0, 0, -1};
    const auto dryAt = [&](float rate) { return mixAt(samples, near, kStill, 0, 0.0f, rate); };
    const auto wetAt = [&](float rate) { return mixAt(samples, near, kStill, 0, 0.5f, rate); };
    EXPECT_EQ(firstDifference(dryAt(16000), wetAt(16000)), 928);
    EXPECT_EQ(firstDifference(dryAt(48000), wetAt(48000)), -1);  // 2784 frames: past this input
    EXPECT_EQ(firstDifference(dryAt(34.5f), wetAt(34.5f)), 2);
    EXPECT_EQ(firstDifference(dryAt(34.4f), wetAt(34.4f)), 1);
    EXPECT_EQ(firstDifference(dryAt(1.0f), wetAt(1.0f)), 1);
    EXPECT_EQ(wetAt(48000).echoEnergy, 0.0f);
    EXPECT_GT(wetAt(16000).echoEnergy, 0.0f);
}

TEST(SpatialMix, EmptyInputStillReportsTheMix) {
    const auto r = Dsp::spatializeMonoVoice({}, 16000, kOrigin, kRight, Float3{5.2f, 0, -1}, Float3{0, 0, 0},
                                            2, 0.24f, 32);
    EXPECT_TRUE(r.stereoInterleavedPCM.empty());
    EXPECT_EQ(r.leftRMS, 0.0f);
    EXPECT_EQ(r.rightRMS, 0.0f);
    EXPECT_EQ(r.echoEnergy, 0.0f);
    EXPECT_NEAR(r.distanceAttenuation, 0.20302f, 1e-5f);
    EXPECT_NEAR(r.wallCutoffHz, 1126.4f, 1e-3f);
    EXPECT_EQ(r.dopplerPitchRatio, 1.0f);
}

TEST(SpatialMix, UnusableSampleRateMutesTheVoice) {
    const auto samples = tone();
    for (float rate : {0.0f, -0.0f, -16000.0f, kNaN, kInf, -kInf, std::numeric_limits<float>::denorm_min()}) {
        EXPECT_FALSE(Dsp::isUsableSampleRate(rate)) << rate;
        const auto r = mixAt(samples, Float3{5.2f, 0, -1}, Float3{0, 0, 0}, 2, 0.24f, rate);
        ASSERT_EQ(r.stereoInterleavedPCM.size(), 2 * samples.size());
        for (float s : r.stereoInterleavedPCM) ASSERT_EQ(s, 0.0f);
        EXPECT_EQ(r.leftRMS, 0.0f);
        EXPECT_EQ(r.rightRMS, 0.0f);
        EXPECT_EQ(r.echoEnergy, 0.0f);
        EXPECT_NEAR(r.distanceAttenuation, 0.20302f, 1e-5f);
        EXPECT_NEAR(r.wallCutoffHz, 1126.4f, 1e-3f);
        EXPECT_EQ(r.dopplerPitchRatio, 1.0f);
    }
    // Any positive rate with a finite period still mixes, however odd.
    for (float rate : {1e-30f, 0.5f, 65535.0f, 3e38f}) {
        EXPECT_TRUE(Dsp::isUsableSampleRate(rate)) << rate;
        const auto r = mixAt(samples, Float3{5.2f, 0, -1}, kStill, 0, 0.24f, rate);
        expectAllFiniteWithinUnit(r);
        // At an absurdly high rate the low-pass lets next to nothing through.
        if (rate < 1e6f) {
            EXPECT_GT(r.rightRMS, 0.0f) << rate;
        }
    }
}

TEST(SpatialMix, NonFiniteInputsNeverReachTheOutput) {
    const auto samples = tone();
    // A speaker with no finite position is out of range.
    for (Float3 where : {Float3{kNaN, 0, 0}, Float3{kInf, 0, 0}, Float3{0, -kInf, kNaN}}) {
        const auto r = mixAt(samples, where);
        expectAllFiniteWithinUnit(r);
        EXPECT_EQ(r.distanceAttenuation, 0.0f);
        EXPECT_EQ(r.rightRMS, 0.0f);
    }
    // A right vector with no direction leaves the voice centred.
    for (Float3 r : {Float3{0, 0, 0}, Float3{kNaN, 0, 0}, Float3{kInf, 0, 0}}) {
        const auto m =
            Dsp::spatializeMonoVoice(samples, 16000, kOrigin, r, Float3{5.2f, 0, -1}, kStill, 0, 0.24f, 32);
        expectAllFiniteWithinUnit(m);
        EXPECT_NEAR(m.leftRMS, m.rightRMS, 1e-6f);
        EXPECT_GT(m.leftRMS, 0.0f);
    }
    // A radius that is not a number hears nothing; an infinite one hears everything.
    EXPECT_EQ(mixAt(samples, Float3{1, 0, 0}, kStill, 0, 0.24f, 16000, kNaN).distanceAttenuation, 0.0f);
    EXPECT_GT(mixAt(samples, Float3{100, 0, 0}, kStill, 0, 0.24f, 16000, kInf).distanceAttenuation, 0.0f);
    // A wetness that is not finite adds no echo.
    const auto dry = mixAt(samples, Float3{1, 0, 0}, kStill, 0, 0.0f);
    EXPECT_EQ(mixAt(samples, Float3{1, 0, 0}, kStill, 0, kNaN).stereoInterleavedPCM,
              dry.stereoInterleavedPCM);
    // Broken samples are heard as silence; the rest of the voice survives.
    auto broken = samples;
    broken[10] = kNaN;
    broken[500] = kInf;
    broken[501] = -kInf;
    const auto m = mixAt(broken, Float3{1, 0, 0}, Float3{0, 0, 0}, 1, 0.24f);
    expectAllFiniteWithinUnit(m);
    EXPECT_GT(m.rightRMS, 0.0f);
    // Velocities that are not finite keep the ratio inside its range.
    for (Float3 v : {Float3{kNaN, 0, 0}, Float3{0, 0, kInf}, Float3{0, 0, -kInf}}) {
        const float ratio = mixAt(samples, Float3{0, 0, -3}, v).dopplerPitchRatio;
        EXPECT_GE(ratio, 0.65f);
        EXPECT_LE(ratio, 1.38f);
    }
}

TEST(SpatialMix, LoudInputIsClampedPerChannel) {
    std::vector<float> loud(400);
    for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 20) % 2 == 0 ? 40.0f : -40.0f;
    const auto r = mixAt(loud, Float3{0.1f, 0, 0});
    expectAllFiniteWithinUnit(r);
    bool hitTop = false, hitBottom = false;
    for (float s : r.stereoInterleavedPCM) {
        hitTop |= s == 1.0f;
        hitBottom |= s == -1.0f;
    }
    EXPECT_TRUE(hitTop && hitBottom);
}

TEST(TestVoiceWave, TwoTonesAtTheRequestedLength) {
    const auto wave = tone();
    ASSERT_EQ(wave.size(), 960u);
    EXPECT_EQ(wave[0], 0.0f);
    for (std::size_t i : {1u, 37u, 500u, 959u}) {
        const double t = static_cast<double>(i) / 16000.0;
        const double expected =
            0.55 * std::sin(420.0 * 2 * M_PI * t) + 0.22 * std::sin(420.0 * 2.15 * 2 * M_PI * t);
        EXPECT_NEAR(wave[i], expected, 2e-5) << i;
    }
    float peak = 0;
    for (float s : wave) peak = std::max(peak, std::fabs(s));
    EXPECT_LE(peak, 0.77f);
    EXPECT_GT(peak, 0.5f);

    EXPECT_EQ(Dsp::generateTestVoiceWave(420, 1.0f, 44100).size(), 44100u);
    EXPECT_TRUE(Dsp::generateTestVoiceWave(420, 0.0f, 16000).empty());
    EXPECT_TRUE(Dsp::generateTestVoiceWave(420, -1.0f, 16000).empty());
    EXPECT_TRUE(Dsp::generateTestVoiceWave(420, kNaN, 16000).empty());
    EXPECT_TRUE(Dsp::generateTestVoiceWave(420, 1.0f, kInf).empty());
}
