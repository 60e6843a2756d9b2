// SpeexDSP's noise suppression on the microphone: what it takes out of steady hiss under a
// voice, what it leaves of the voice, the latency it reports, and the whole voice chain.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "common/audio/ProgrammeMixer.h"
#include "platform/audio-mix/SpeexNoiseSuppressor.h"
#include "tests/support/AudioSignals.h"

namespace vantry::platform {
namespace {

using audio::kBlockFrames;
using testing::framesOf;

constexpr double kSpeechDb = -12.0;
constexpr double kHissDb = -40.0;  // RMS
constexpr int kSeconds = 10;

// Syllables in the first half of every periodMs, hiss throughout.
std::vector<float> noisyVoice(double periodMs) {
    auto x = testing::speechLike(kSpeechDb, kSeconds * testing::kTestRate, periodMs);
    const auto noise = testing::hiss(kHissDb, kSeconds * testing::kTestRate);
    for (size_t i = 0; i < x.size(); ++i) x[i] += noise[i];
    return x;
}

std::vector<float> suppress(std::vector<float> x, audio::NoiseSuppressor& suppressor) {
    for (size_t start = 0; start + kBlockFrames <= x.size(); start += kBlockFrames)
        suppressor.process(x.data() + start, kBlockFrames);
    return x;
}

struct Stretch {
    double periodMs;
    bool speech;    // the sounding half or the gap
    double fromMs;  // into that half
    double toMs;
};

// RMS over the given stretch of every period that starts from the fourth second on (the suppressor has
// learnt the noise by then), `lag` frames late.
double levelDb(const std::vector<float>& x, const Stretch& s, int lag) {
    const int period = framesOf(s.periodMs);
    double sum = 0.0;
    int count = 0;
    const int firstPeriod = (4 * testing::kTestRate + period - 1) / period * period;
    for (int start = firstPeriod; start + period + lag <= static_cast<int>(x.size()); start += period) {
        const int half = start + (s.speech ? 0 : period / 2) + lag;
        for (int i = half + framesOf(s.fromMs); i < half + framesOf(s.toMs); ++i) sum += double{x[i]} * x[i];
        count += framesOf(s.toMs) - framesOf(s.fromMs);
    }
    return testing::dbOf(std::sqrt(sum / count));
}

constexpr Stretch kSyllables{800, true, 100, 300};
constexpr Stretch kGaps{800, false, 100, 300};

TEST(SpeexNoiseSuppressor, LowersSteadyHissUnderAVoiceAndKeepsTheVoice) {
    SpeexNoiseSuppressor suppressor;
    const auto in = noisyVoice(kSyllables.periodMs);
    const auto out = suppress(in, suppressor);
    const int lag = suppressor.latencyFrames();
    const double floorIn = levelDb(in, kGaps, 0);
    const double floorOut = levelDb(out, kGaps, lag);
    const double voiceIn = levelDb(in, kSyllables, 0);
    const double voiceOut = levelDb(out, kSyllables, lag);
    EXPECT_NEAR(floorIn, kHissDb, 0.5);
    EXPECT_LT(floorOut, floorIn - 15.0);
    EXPECT_NEAR(voiceOut, voiceIn, 2.0);
}

TEST(SpeexNoiseSuppressor, GivesEachFrameBackOneFrameLater) {
    SpeexNoiseSuppressor suppressor;
    const auto in = testing::speechLike(kSpeechDb, 2 * testing::kTestRate);
    const auto out = suppress(in, suppressor);
    int best = -1;
    double bestScore = -1.0;
    for (int lag = 0; lag < 3 * kBlockFrames; ++lag) {
        double score = 0.0;
        for (size_t i = testing::kTestRate / 2; i + lag < out.size(); ++i)
            score += double{in[i]} * out[i + lag];
        if (score > bestScore) bestScore = score, best = lag;
    }
    EXPECT_EQ(best, suppressor.latencyFrames());
    EXPECT_EQ(suppressor.latencyFrames(), kBlockFrames);
}

// The whole voice chain: the suppressor takes the hiss down far enough for the gate to close
// in the pauses (once its hold and most of its release have passed), while the words come
// through at their level; 12 ms of latency in all.
TEST(SpeexNoiseSuppressor, VoiceChainSilencesThePausesOfANoisyMicrophone) {
    audio::ProgrammeMixer mixer(std::make_unique<SpeexNoiseSuppressor>());
    EXPECT_EQ(mixer.latencyFrames(), kBlockFrames + framesOf(2));
    const double period = 2400;
    const auto in = noisyVoice(period);
    std::vector<float> left(in.size()), right(in.size());
    for (size_t start = 0; start + kBlockFrames <= in.size(); start += kBlockFrames) {
        const std::array<audio::StereoBlock, audio::kMixSourceCount> blocks = {
            audio::StereoBlock{in.data() + start, in.data() + start}, audio::StereoBlock{},
            audio::StereoBlock{}};
        mixer.process(blocks, left.data() + start, right.data() + start);
    }
    const int lag = mixer.latencyFrames();
    const Stretch pauseEnds{period, false, 200 + 4 * 150, 1150};
    const Stretch words{period, true, 300, 900};
    EXPECT_LT(levelDb(left, pauseEnds, lag), kHissDb - 40.0);
    EXPECT_NEAR(levelDb(left, words, lag), levelDb(in, words, 0), 3.0);
}

}  // namespace
}  // namespace vantry::platform
