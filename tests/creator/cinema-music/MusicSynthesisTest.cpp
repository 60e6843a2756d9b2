#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "creator/cinema-music/MusicSynthesis.h"
#include "creator/cinema-music/WavFile.h"

using namespace vantry::creator;
using State = OruMusicIntensityStateV950;

TEST(MusicStates, TableAndRawValues) {
    const auto& all = State::allCases();
    ASSERT_EQ(all.size(), 6u);
    for (auto s : all) EXPECT_EQ(State::fromRawValue(s.rawValue()), s);
    EXPECT_FALSE(State::fromRawValue("CombatDrive"));
    EXPECT_FALSE(State::fromRawValue(""));
    EXPECT_EQ(State(State::combatDrive).targetBPM(), 128);
    EXPECT_EQ(State(State::heroicBossBrass).stemGains(), (OruStemGainsV950{0.78f, 1.0f, 1.0f, 1.0f}));
    EXPECT_TRUE(State(State::coastalSerene).isMajor());
    EXPECT_TRUE(State(State::victoryResolve).isMajor());
    EXPECT_FALSE(State(State::tensionPulse).isMajor());
    EXPECT_EQ(State(State::victoryResolve).chord().fifth, 261.63f);
    EXPECT_EQ(State(State::ambientExploration).chord().root, 146.83f);
}

TEST(MusicSynthesis, ShortDurationIsRaisedTo1024) {
    const auto b = synthesizeStemBuffer(State::coastalSerene, 0.01, 44100);
    EXPECT_EQ(b.samplesL.size(), 1024u);
    EXPECT_EQ(b.samplesR.size(), 1024u);
    EXPECT_EQ(b.snapshot.state, State::coastalSerene);
    EXPECT_EQ(b.snapshot.bpm, 78);
    EXPECT_EQ(b.snapshot.padGain, 0.42f);
    EXPECT_EQ(b.snapshot.pulseBassGain, 0.14f);
    EXPECT_EQ(b.snapshot.percussionGain, 0.0f);
    EXPECT_EQ(b.snapshot.leadBrassGain, 0.18f);
    EXPECT_EQ(b.snapshot.sampleRateHz, 44100);
    EXPECT_EQ(stemSampleCount(-5, 44100), 1024);
    EXPECT_EQ(stemSampleCount(1.0, 48000), 48000);
    EXPECT_THROW(stemSampleCount(std::numeric_limits<double>::infinity(), 44100), std::invalid_argument);
    EXPECT_THROW(stemSampleCount(std::nan(""), 44100), std::invalid_argument);
    EXPECT_THROW(stemSampleCount(1e300, 44100), std::invalid_argument);
    EXPECT_THROW(stemSampleCount(1, 0), std::invalid_argument);
}

TEST(MusicSynthesis, FourSecondLoopLevels) {
    // The per-state loudness of the 4-second loop at 44.1 kHz.
    const double expectedRms[6] = {0.11, 0.10, 0.14, 0.20, 0.25, 0.19};
    for (auto state : State::allCases()) {
        const auto b = synthesizeStemBuffer(state, 4.0, 44100);
        ASSERT_EQ(b.samplesL.size(), 176400u);
        EXPECT_EQ(b.samplesL[0], 0.0f) << state.rawValue();
        EXPECT_EQ(b.samplesR[0], 0.0f) << state.rawValue();
        float peak = 0;
        double sum = 0;
        for (std::size_t i = 0; i < b.samplesL.size(); ++i) {
            ASSERT_LE(std::fabs(b.samplesL[i]), 0.95f);
            ASSERT_LE(std::fabs(b.samplesR[i]), 0.95f);
            peak = std::max({peak, std::fabs(b.samplesL[i]), std::fabs(b.samplesR[i])});
            sum += (double(b.samplesL[i]) * b.samplesL[i] + double(b.samplesR[i]) * b.samplesR[i]) / 2;
        }
        EXPECT_LT(peak, 0.95f) << state.rawValue() << ": no state reaches the clamp";
        EXPECT_NEAR(b.snapshot.synthesizedPeakRMS, expectedRms[state.value()], 0.01) << state.rawValue();
        EXPECT_FLOAT_EQ(b.snapshot.synthesizedPeakRMS, static_cast<float>(std::sqrt(sum / 176400)));
    }
}

TEST(MusicSynthesis, KickIsSilentWithoutPercussionGain) {
    // coastalSerene's percussion gain is 0: rebuilding its mix without any kick term matches exactly.
    const auto b = synthesizeStemBuffer(State::coastalSerene, 0.5, 8000);
    const auto g = State(State::coastalSerene).stemGains();
    const auto c = State(State::coastalSerene).chord();
    const float w = 6.283185f;
    const float bps = static_cast<float>(78.0 / 60.0);
    for (std::size_t i = 0; i < b.samplesL.size(); i += 97) {
        const float t = static_cast<float>(i) / 8000.0f;
        const float padL = 0.45f * std::sin(w * c.root * t) + 0.30f * std::sin(w * c.third * t) +
                           0.25f * std::sin(w * c.fifth * t * 1.003f);
        const float beat = t * bps;
        const float bass =
            g.bass * std::exp(-4.5f * std::fmod(2.0f * beat, 1.0f)) * std::sin(w * (c.root / 2) * t) * 0.55f;
        const float lead = g.lead *
                           (std::sin(w * (2 * c.fifth) * t) + 0.42f * std::sin(w * (4 * c.fifth) * t)) *
                           (0.38f * std::sin(2.2f * t) + 0.62f) * 0.46f;
        EXPECT_EQ(b.samplesL[i], std::clamp((g.pad * padL + bass + 0.0f + lead) * 0.55f, -0.95f, 0.95f)) << i;
    }
}

TEST(MusicSynthesis, DeterministicAndStereo) {
    const auto a = synthesizeStemBuffer(State::combatDrive, 0.2, 22050);
    const auto b = synthesizeStemBuffer(State::combatDrive, 0.2, 22050);
    EXPECT_EQ(a.samplesL, b.samplesL);
    EXPECT_EQ(a.samplesR, b.samplesR);
    EXPECT_NE(a.samplesL, a.samplesR);  // the detuned pad spreads the chord
}

TEST(WavFile, FloatStereoLayout) {
    const std::vector<float> l{0.5f, -1.0f}, r{0.25f, 0.0f};
    const auto wav = encodeFloatStereoWav(l, r, 44100);
    ASSERT_EQ(wav.size(), 58u + 16u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(wav[4] | (wav[5] << 8), 58 + 16 - 8);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(wav[20], 3);  // IEEE float
    EXPECT_EQ(wav[22], 2);  // channels
    EXPECT_EQ(std::string(wav.begin() + 50, wav.begin() + 54), "data");
    float second;
    std::memcpy(&second, wav.data() + 58 + 4, 4);
    EXPECT_EQ(second, 0.25f);
    EXPECT_THROW(encodeFloatStereoWav(l, std::vector<float>{1.0f}, 44100), std::invalid_argument);
}
