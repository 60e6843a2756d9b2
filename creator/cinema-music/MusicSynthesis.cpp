#include "creator/cinema-music/MusicSynthesis.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "common/EnumTable.h"

namespace vantry::creator {

namespace {

struct StateRow {
    std::string_view raw;
    double bpm;
    OruStemGainsV950 gains;
    bool major;
};

constexpr std::array<StateRow, 6> kStates{{
    {"ambientExploration", 88, {0.48f, 0.24f, 0.08f, 0.14f}, false},
    {"coastalSerene", 78, {0.42f, 0.14f, 0.00f, 0.18f}, true},
    {"tensionPulse", 108, {0.52f, 0.78f, 0.48f, 0.30f}, false},
    {"combatDrive", 128, {0.64f, 0.92f, 0.95f, 0.78f}, false},
    {"heroicBossBrass", 138, {0.78f, 1.00f, 1.00f, 1.00f}, false},
    {"victoryResolve", 104, {0.68f, 0.42f, 0.35f, 0.75f}, true},
}};

constexpr OruChordV950 kMinor{146.83f, 174.61f, 220.0f};  // D3 F3 A3
constexpr OruChordV950 kMajor{174.61f, 220.0f, 261.63f};  // F3 A3 C4

constexpr float kTwoPi = 6.283185f;
inline float omega(float f) {
    return kTwoPi * f;
}

}  // namespace

std::optional<OruMusicIntensityStateV950> OruMusicIntensityStateV950::fromRawValue(std::string_view raw) {
    return enum_table::find<OruMusicIntensityStateV950>(kStates, &StateRow::raw, raw);
}

const std::array<OruMusicIntensityStateV950, 6>& OruMusicIntensityStateV950::allCases() {
    return enum_table::allCases<OruMusicIntensityStateV950, 6>();
}

std::string_view OruMusicIntensityStateV950::rawValue() const {
    return kStates[case_].raw;
}
double OruMusicIntensityStateV950::targetBPM() const {
    return kStates[case_].bpm;
}
OruStemGainsV950 OruMusicIntensityStateV950::stemGains() const {
    return kStates[case_].gains;
}
bool OruMusicIntensityStateV950::isMajor() const {
    return kStates[case_].major;
}
OruChordV950 OruMusicIntensityStateV950::chord() const {
    return isMajor() ? kMajor : kMinor;
}

std::int64_t stemSampleCount(double durationSec, double sampleRate) {
    if (!std::isfinite(sampleRate) || !(sampleRate > 0))
        throw std::invalid_argument("sample rate must be positive");
    const double product = durationSec * sampleRate;
    // 2^63 is exactly representable; the range check is done before converting.
    if (!std::isfinite(product) || product >= 9223372036854775808.0 || product < -9223372036854775808.0)
        throw std::invalid_argument("duration × sample rate is out of range");
    return std::max<std::int64_t>(static_cast<std::int64_t>(product), kMinimumStemSamples);
}

OruSynthesizedStemBufferV950 synthesizeStemBuffer(OruMusicIntensityStateV950 state, double durationSec,
                                                  double sampleRate) {
    const std::int64_t n = stemSampleCount(durationSec, sampleRate);
    const OruStemGainsV950 g = state.stemGains();
    const OruChordV950 ch = state.chord();
    const double bpm = state.targetBPM();
    const float bps = static_cast<float>(bpm / 60.0);

    OruSynthesizedStemBufferV950 out;
    out.samplesL.assign(static_cast<std::size_t>(n), 0.0f);
    out.samplesR.assign(static_cast<std::size_t>(n), 0.0f);
    float* left = out.samplesL.data();
    float* right = out.samplesR.data();

    const float rate = static_cast<float>(sampleRate);
    const float wRoot = omega(ch.root), wThird = omega(ch.third), wFifth = omega(ch.fifth);
    const float wSub = omega(ch.root / 2.0f), wLead1 = omega(2.0f * ch.fifth),
                wLead2 = omega(4.0f * ch.fifth);

    double sum = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
        const float t = static_cast<float>(i) / rate;
        const float padL = 0.45f * std::sin(wRoot * t) + 0.30f * std::sin(wThird * t) +
                           0.25f * std::sin(wFifth * t * 1.003f);
        const float padR = 0.45f * std::sin(wRoot * t * 0.998f) + 0.30f * std::sin(wThird * t * 1.002f) +
                           0.25f * std::sin(wFifth * t);
        const float beat = t * bps;
        const float bass =
            g.bass * std::exp(-4.5f * std::fmod(2.0f * beat, 1.0f)) * std::sin(wSub * t) * 0.55f;
        const float ph = std::fmod(beat, 1.0f);
        const float kick = g.perc * std::sin(ph * (95.0f * std::exp(-24.0f * ph) + 55.0f) * kTwoPi) *
                           std::exp(-9.0f * ph) * 0.5f;
        const float lead = g.lead * (std::sin(wLead1 * t) + 0.42f * std::sin(wLead2 * t)) *
                           (0.38f * std::sin(2.2f * t) + 0.62f) * 0.46f;
        const float l = std::clamp((g.pad * padL + bass + kick + lead) * 0.55f, -0.95f, 0.95f);
        const float r = std::clamp((g.pad * padR + bass + kick + lead) * 0.55f, -0.95f, 0.95f);
        left[i] = l;
        right[i] = r;
        sum += (static_cast<double>(l) * l + static_cast<double>(r) * r) / 2.0;
    }

    auto& s = out.snapshot;
    s.state = state;
    s.bpm = bpm;
    s.padGain = g.pad;
    s.pulseBassGain = g.bass;
    s.percussionGain = g.perc;
    s.leadBrassGain = g.lead;
    s.sampleRateHz = sampleRate;
    s.synthesizedPeakRMS = static_cast<float>(std::sqrt(sum / static_cast<double>(n)));
    return out;
}

}  // namespace vantry::creator
