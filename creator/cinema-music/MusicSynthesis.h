// Procedural adaptive score: the six intensity states and the stereo loop synthesised from them.
// Pure computation: the same state, duration and rate always give the same samples.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantry::creator {

struct OruStemGainsV950 {
    float pad = 0;
    float bass = 0;
    float perc = 0;
    float lead = 0;
    friend bool operator==(const OruStemGainsV950&, const OruStemGainsV950&) = default;
};

struct OruChordV950 {
    float root = 0;
    float third = 0;
    float fifth = 0;
};

class OruMusicIntensityStateV950 {
  public:
    enum Case : std::uint8_t {
        ambientExploration,
        coastalSerene,
        tensionPulse,
        combatDrive,
        heroicBossBrass,
        victoryResolve
    };

    constexpr OruMusicIntensityStateV950(Case c) : case_(c) {}  // NOLINT: implicit from a case, like an enum

    // Exactly one of the six case names; anything else is absent.
    static std::optional<OruMusicIntensityStateV950> fromRawValue(std::string_view raw);
    static const std::array<OruMusicIntensityStateV950, 6>& allCases();

    constexpr Case value() const { return case_; }
    std::string_view rawValue() const;
    double targetBPM() const;
    OruStemGainsV950 stemGains() const;
    bool isMajor() const;
    OruChordV950 chord() const;

    friend constexpr bool operator==(OruMusicIntensityStateV950 a, OruMusicIntensityStateV950 b) {
        return a.case_ == b.case_;
    }

  private:
    Case case_;
};

struct OruAdaptiveMusicMixSnapshotV950 {
    OruMusicIntensityStateV950 state = OruMusicIntensityStateV950::ambientExploration;
    double bpm = 0;
    float padGain = 0;
    float pulseBassGain = 0;
    float percussionGain = 0;
    float leadBrassGain = 0;
    double sampleRateHz = 0;
    float synthesizedPeakRMS = 0;  // the RMS level of the whole buffer
};

struct OruSynthesizedStemBufferV950 {
    std::vector<float> samplesL;
    std::vector<float> samplesR;
    OruAdaptiveMusicMixSnapshotV950 snapshot;
};

inline constexpr std::int64_t kMinimumStemSamples = 1024;

// Samples for a duration at a rate: ⌊D × R⌋, at least 1024. Throws std::invalid_argument when D × R is
// not finite or beyond the 64-bit range, or the rate is not a positive finite number.
std::int64_t stemSampleCount(double durationSec, double sampleRate);

// The stereo loop of a state; allocates the two channel arrays and nothing else.
OruSynthesizedStemBufferV950 synthesizeStemBuffer(OruMusicIntensityStateV950 state, double durationSec,
                                                  double sampleRate);

}  // namespace vantry::creator
