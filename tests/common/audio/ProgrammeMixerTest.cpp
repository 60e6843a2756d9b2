// The programme mix: gains, mutes and delays per source, the voice filters on and off, the
// limiter on the sum, the meters and the latency it reports.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <deque>
#include <memory>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "common/audio/ProgrammeMixer.h"
#include "tests/support/AudioSignals.h"

namespace vantry::audio {
namespace {

using testing::amplitudeOf;
using testing::framesOf;

// Sources as whole signals (empty: none); runs them through the mixer block by block.
struct Inputs {
    std::vector<float> micLeft, micRight, desktopLeft, desktopRight, wallLeft, wallRight;
};

struct Output {
    std::vector<float> left, right;
};

const float* blockOf(const std::vector<float>& x, int block) {
    return x.empty() ? nullptr : x.data() + block * kBlockFrames;
}

Output run(ProgrammeMixer& mixer, const Inputs& in, int blocks) {
    Output out{std::vector<float>(blocks * kBlockFrames), std::vector<float>(blocks * kBlockFrames)};
    for (int b = 0; b < blocks; ++b) {
        std::array<StereoBlock, kMixSourceCount> blocksIn = {
            StereoBlock{blockOf(in.micLeft, b), blockOf(in.micRight, b)},
            StereoBlock{blockOf(in.desktopLeft, b), blockOf(in.desktopRight, b)},
            StereoBlock{blockOf(in.wallLeft, b), blockOf(in.wallRight, b)}};
        mixer.process(blocksIn, out.left.data() + b * kBlockFrames, out.right.data() + b * kBlockFrames);
    }
    return out;
}

std::vector<float> click(int frames, int at, float amplitude = 0.5f) {
    std::vector<float> x(frames, 0.0f);
    x[at] = amplitude;
    return x;
}

std::vector<float> constant(int frames, float value) {
    return std::vector<float>(frames, value);
}

void unmuteAll(ProgrammeMixer& mixer) {
    for (MixSource s : {MixSource::mic, MixSource::desktop, MixSource::wallVideo}) mixer.setSettings(s, {});
}

// A suppressor that only delays, as SpeexDSP's does, by one block.
class DelayingSuppressor : public NoiseSuppressor {
  public:
    void process(float* mono, int frames) override {
        for (int i = 0; i < frames; ++i) {
            queue_.push_back(mono[i]);
            mono[i] = queue_.front();
            queue_.pop_front();
        }
    }
    int latencyFrames() const override { return kBlockFrames; }

  private:
    std::deque<float> queue_ = std::deque<float>(kBlockFrames, 0.0f);
};

TEST(ProgrammeMixer, KeepsTitlesAndDefaults) {
    ProgrammeMixer mixer;
    EXPECT_EQ(mixSourceTitle(MixSource::mic), "Mic/Aux");
    EXPECT_EQ(mixSourceTitle(MixSource::desktop), "Desktop Audio");
    EXPECT_EQ(mixSourceTitle(MixSource::wallVideo), "Wall Video");
    EXPECT_TRUE(mixer.voiceFilters());
    EXPECT_FALSE(mixer.settings(MixSource::mic).muted);
    EXPECT_TRUE(mixer.settings(MixSource::wallVideo).muted);
    // Only the limiter's look-ahead without a suppressor; the suppressor's frame with one.
    EXPECT_EQ(mixer.latencyFrames(), framesOf(2));
    ProgrammeMixer withSuppressor(std::make_unique<DelayingSuppressor>());
    EXPECT_EQ(withSuppressor.latencyFrames(), kBlockFrames + framesOf(2));
    EXPECT_LE(withSuppressor.latencyFrames(), framesOf(20));
}

TEST(ProgrammeMixer, ClampsSettings) {
    ProgrammeMixer mixer;
    mixer.setSettings(MixSource::desktop, {true, 45.0f, 900});
    EXPECT_EQ(mixer.settings(MixSource::desktop), (SourceSettings{true, kMaxGainDb, kMaxDelayMs}));
    mixer.setSettings(MixSource::desktop, {false, -80.0f, -5});
    EXPECT_EQ(mixer.settings(MixSource::desktop), (SourceSettings{false, kMinGainDb, 0}));
}

// A click at `at` in one source comes out exactly delay + latency frames later, alone.
TEST(ProgrammeMixer, DelaysEachSourceByExactlyItsDelay) {
    struct Case {
        MixSource source;
        int delayMs;
        bool withSuppressor;
    };
    const std::vector<Case> cases = {
        {MixSource::mic, 0, false},      {MixSource::mic, 37, false},        {MixSource::mic, 500, true},
        {MixSource::desktop, 0, false},  {MixSource::desktop, 1, true},      {MixSource::desktop, 500, false},
        {MixSource::wallVideo, 0, true}, {MixSource::wallVideo, 250, false},
    };
    const int blocks = 120;
    const int at = 3 * kBlockFrames + 17;
    for (const Case& c : cases) {
        ProgrammeMixer mixer(c.withSuppressor ? std::make_unique<DelayingSuppressor>() : nullptr);
        unmuteAll(mixer);
        mixer.setVoiceFilters(false);
        mixer.setSettings(c.source, {false, 0.0f, c.delayMs});
        Inputs in;
        const auto x = click(blocks * kBlockFrames, at);
        if (c.source == MixSource::mic) in.micLeft = x, in.micRight = x;
        if (c.source == MixSource::desktop) in.desktopLeft = x, in.desktopRight = x;
        if (c.source == MixSource::wallVideo) in.wallLeft = x, in.wallRight = x;
        const Output out = run(mixer, in, blocks);
        const int expected = at + c.delayMs * 48 + mixer.latencyFrames();
        const std::string what =
            std::string(mixSourceTitle(c.source)) + " " + std::to_string(c.delayMs) + " ms";
        for (int i = 0; i < blocks * kBlockFrames; ++i) {
            ASSERT_EQ(out.left[i], i == expected ? 0.5f : 0.0f) << what << " at " << i;
            ASSERT_EQ(out.right[i], i == expected ? 0.5f : 0.0f) << what << " at " << i;
        }
    }
}

TEST(ProgrammeMixer, ChangingDelaysNeitherClicksNorReadsStaleSound) {
    ProgrammeMixer mixer;
    unmuteAll(mixer);
    const int blocks = 200;
    Inputs in;
    in.desktopLeft = testing::sine(-6, 440, blocks * kBlockFrames);
    in.desktopRight = in.desktopLeft;
    Output out{std::vector<float>(blocks * kBlockFrames), std::vector<float>(blocks * kBlockFrames)};
    const std::vector<int> delays = {0, 500, 3, 499, 0, 120, 120, 500, 0};
    for (int b = 0; b < blocks; ++b) {
        mixer.setSettings(MixSource::desktop, {false, 0.0f, delays[b % delays.size()]});
        std::array<StereoBlock, kMixSourceCount> blockIn = {
            StereoBlock{}, StereoBlock{blockOf(in.desktopLeft, b), blockOf(in.desktopRight, b)},
            StereoBlock{}};
        mixer.process(blockIn, out.left.data() + b * kBlockFrames, out.right.data() + b * kBlockFrames);
    }
    // Every output sample is a blend of two input samples: never above the sine's peak.
    for (int i = 0; i < blocks * kBlockFrames; ++i) {
        ASSERT_TRUE(std::isfinite(out.left[i]));
        ASSERT_LE(std::fabs(out.left[i]), amplitudeOf(-6) + 1e-6f) << i;
    }
    // Settled on a delay again, the click lands where it should.
    mixer.setSettings(MixSource::desktop, {false, 0.0f, 100});
    Inputs quiet;
    quiet.desktopLeft = click(60 * kBlockFrames, 40 * kBlockFrames);
    quiet.desktopRight = quiet.desktopLeft;
    run(mixer, Inputs{}, 110);  // flushes the sine out of the 500 ms line
    const Output after = run(mixer, quiet, 60);
    const int expected = 40 * kBlockFrames + 100 * 48 + mixer.latencyFrames();
    for (int i = 0; i < 60 * kBlockFrames; ++i) ASSERT_EQ(after.left[i], i == expected ? 0.5f : 0.0f) << i;
}

TEST(ProgrammeMixer, AppliesGainsAndMutesAfterOneBlockGlide) {
    struct Case {
        SourceSettings settings;
        float expectedGain;
    };
    const std::vector<Case> cases = {
        {{false, 0.0f, 0}, 1.0f},
        {{false, -30.0f, 0}, amplitudeOf(-30)},
        {{false, 6.0f, 0}, amplitudeOf(6)},
        {{false, 20.0f, 0}, 10.0f},
        {{false, 40.0f, 0}, 10.0f},
        {{false, -55.0f, 0}, amplitudeOf(-30)},
        {{true, 0.0f, 0}, 0.0f},
        {{true, 20.0f, 0}, 0.0f},
    };
    const int blocks = 20;
    for (MixSource source : {MixSource::desktop, MixSource::wallVideo}) {
        for (const Case& c : cases) {
            ProgrammeMixer mixer;
            unmuteAll(mixer);
            Inputs in;
            const auto x = constant(blocks * kBlockFrames, 0.01f);
            (source == MixSource::desktop ? in.desktopLeft : in.wallLeft) = x;
            (source == MixSource::desktop ? in.desktopRight : in.wallRight) = x;
            run(mixer, in, 2);
            mixer.setSettings(source, c.settings);
            const Output out = run(mixer, in, blocks);
            // The change glides over one block: steps between samples stay small.
            const float largestStep = std::fabs(c.expectedGain - 1.0f) * 0.01f / kBlockFrames * 1.01f + 1e-7f;
            for (int i = 1; i < blocks * kBlockFrames; ++i)
                ASSERT_LE(std::fabs(out.left[i] - out.left[i - 1]), largestStep) << i;
            EXPECT_FLOAT_EQ(out.left.back(), 0.01f * c.expectedGain) << c.settings.gainDb;
            EXPECT_FLOAT_EQ(out.right.back(), 0.01f * c.expectedGain) << c.settings.gainDb;
        }
    }
}

TEST(ProgrammeMixer, SumsTheSources) {
    ProgrammeMixer mixer;
    unmuteAll(mixer);
    mixer.setVoiceFilters(false);
    const int n = 10 * kBlockFrames;
    Inputs in;
    in.micLeft = constant(n, 0.1f);  // mono: the other channel missing
    in.desktopLeft = constant(n, 0.2f);
    in.desktopRight = constant(n, -0.2f);
    in.wallRight = constant(n, 0.05f);
    const Output out = run(mixer, in, 10);
    EXPECT_FLOAT_EQ(out.left.back(), 0.3f);
    EXPECT_FLOAT_EQ(out.right.back(), -0.05f);
}

// Filters off: the microphone's sound, delayed by the latency, times its gain, bit for bit.
TEST(ProgrammeMixer, VoiceFiltersOffGiveTheRawMicrophone) {
    for (bool withSuppressor : {false, true}) {
        ProgrammeMixer mixer(withSuppressor ? std::make_unique<DelayingSuppressor>() : nullptr);
        mixer.setVoiceFilters(false);
        mixer.setSettings(MixSource::mic, {false, 6.0f, 0});
        const int blocks = 100;
        Inputs in;
        in.micLeft = testing::speechLike(-12, blocks * kBlockFrames);
        const auto noise = testing::hiss(-50, blocks * kBlockFrames);
        for (int i = 0; i < blocks * kBlockFrames; ++i) in.micLeft[i] += noise[i];
        in.micRight = in.micLeft;
        const Output out = run(mixer, in, blocks);
        const int lag = mixer.latencyFrames();
        const float gain = std::pow(10.0f, 6.0f / 20.0f);
        for (int i = 0; i < blocks * kBlockFrames; ++i) {
            const float expected = i < lag ? 0.0f : in.micLeft[i - lag] * gain;
            ASSERT_EQ(out.left[i], expected) << i;
            ASSERT_EQ(out.right[i], expected) << i;
        }
    }
}

// Filters on: the gate silences the hiss between words, the compressor keeps speech peaking
// at -12 dBFS where it was and brings louder speech down; switching glides over a block.
TEST(ProgrammeMixer, VoiceFiltersGateAndCompressTheMicrophone) {
    struct Case {
        double speechDb;
        double expectedPeakDb;
    };
    const std::vector<Case> cases = {{-12, -12}, {-3, -9}};
    const int blocks = 300;
    for (const Case& c : cases) {
        ProgrammeMixer mixer;
        Inputs in;
        in.micLeft = testing::speechLike(c.speechDb, blocks * kBlockFrames);
        const auto noise = testing::hiss(-66, blocks * kBlockFrames);
        for (int i = 0; i < blocks * kBlockFrames; ++i) in.micLeft[i] += noise[i];
        const Output out = run(mixer, in, blocks);
        const int lag = mixer.latencyFrames();
        // Third syllable (800 ms period, the first half sounds) and the gap after it.
        const int syllable = framesOf(1600) + lag;
        EXPECT_NEAR(testing::peakDb(out.left, syllable, syllable + framesOf(400)), c.expectedPeakDb, 0.6);
        const int gapQuiet = framesOf(2000 + 200 + 150 * 5) + lag;  // hold plus five release times on
        EXPECT_LT(testing::peakDb(out.left, gapQuiet, framesOf(2400)), -66 - 30);
    }
}

TEST(ProgrammeMixer, SwitchingVoiceFiltersGlides) {
    ProgrammeMixer mixer;
    const int blocks = 40;
    Inputs in;
    in.micLeft = testing::sine(-40, 300, blocks * kBlockFrames);  // over the gate, under the knee
    run(mixer, in, 20);
    mixer.setVoiceFilters(false);
    const Output out = run(mixer, in, blocks);
    // +4 dB make-up on, none off: the change is spread over a block, no sample jumps.
    const float peak = amplitudeOf(-36);
    const float perSample = float(2.0 * std::numbers::pi * 300 / 48000) * peak;
    for (int i = 1; i < blocks * kBlockFrames; ++i)
        ASSERT_LE(std::fabs(out.left[i] - out.left[i - 1]), perSample * 1.05f) << i;
    EXPECT_NEAR(testing::peakDb(out.left, 20 * kBlockFrames, blocks * kBlockFrames), -40, 0.01);
}

TEST(ProgrammeMixer, HoldsAClippingMixUnderTheCeiling) {
    ProgrammeMixer mixer;
    unmuteAll(mixer);
    const int blocks = 100;
    Inputs in;
    in.desktopLeft = testing::sine(12, 1000, blocks * kBlockFrames);
    in.desktopRight = in.desktopLeft;
    in.wallLeft = testing::sine(0, 1500, blocks * kBlockFrames);
    mixer.setSettings(MixSource::wallVideo, {false, 20.0f, 0});
    const Output out = run(mixer, in, blocks);
    EXPECT_LE(testing::peakDb(out.left, 0, blocks * kBlockFrames), -1.0);
    EXPECT_LE(testing::peakDb(out.right, 0, blocks * kBlockFrames), -1.0);
    EXPECT_LE(mixer.mixLevel().peakDb, -1.0f);
    EXPECT_GT(mixer.mixLevel().peakDb, -1.5f);
}

TEST(ProgrammeMixer, MetersPeakAndRmsOfTheLastBlock) {
    ProgrammeMixer mixer;
    unmuteAll(mixer);
    mixer.setSettings(MixSource::wallVideo, {true, 0.0f, 0});
    const int blocks = 10;
    Inputs in;
    in.desktopLeft =
        testing::sine(-6, 1000, blocks * kBlockFrames);  // 48 frames a period: whole periods a block
    in.desktopRight = constant(blocks * kBlockFrames, amplitudeOf(-6));
    in.wallLeft = constant(blocks * kBlockFrames, 0.5f);
    run(mixer, in, blocks);
    const Level desktop = mixer.level(MixSource::desktop);
    EXPECT_NEAR(desktop.peakDb, -6.0f, 0.01f);
    // Mean square of a sine (a^2 / 2) and of the constant (a^2), over both channels.
    EXPECT_NEAR(desktop.rmsDb, -6.0f + 10.0f * std::log10(0.75f), 0.01f);
    EXPECT_EQ(mixer.level(MixSource::wallVideo).peakDb, kSilenceDb);
    EXPECT_EQ(mixer.level(MixSource::mic).rmsDb, kSilenceDb);
    EXPECT_NEAR(mixer.mixLevel().peakDb, -6.0f, 0.01f);
}

// Settings and levels cross threads while blocks are mixed (for ThreadSanitizer).
TEST(ProgrammeMixer, SettingsAndLevelsCrossThreads) {
    ProgrammeMixer mixer;
    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int i = 0; !done.load(); ++i) {
            mixer.setSettings(MixSource::desktop, {i % 2 == 0, float(i % 40 - 30), i % 501});
            mixer.setVoiceFilters(i % 3 != 0);
            (void)mixer.level(MixSource::mic);
            (void)mixer.mixLevel();
        }
    });
    const auto x = testing::sine(-6, 440, kBlockFrames);
    std::array<float, kBlockFrames> l{}, r{};
    for (int b = 0; b < 500; ++b)
        mixer.process({StereoBlock{x.data(), x.data()}, StereoBlock{x.data(), x.data()}, {}}, l.data(),
                      r.data());
    done = true;
    control.join();
    mixer.setSettings(MixSource::desktop, {false, 3.0f, 20});
    EXPECT_EQ(mixer.settings(MixSource::desktop), (SourceSettings{false, 3.0f, 20}));
}

}  // namespace
}  // namespace vantry::audio
