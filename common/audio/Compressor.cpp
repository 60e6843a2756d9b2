// The gain reduction goes through two stages: a peak hold that rises at once to the reduction a
// sample asks for and falls back with (release - attack), then a one-pole smoother with the
// attack time. A louder step is thus reached with the attack time constant; after a quieter
// step the two stages together take the release time to fall to 1/e (within 1 %).
#include "common/audio/Compressor.h"

#include <algorithm>
#include <cmath>

#include "common/audio/Decibels.h"

namespace vantry::audio {

namespace {
// Reductions below this are none: the fades stop short of denormal numbers.
constexpr float kNegligibleDb = 1e-6f;
}

Compressor::Compressor(int sampleRate, const CompressorSettings& settings)
    : threshold_(dbToGain(settings.thresholdDb)),
      thresholdDb_(settings.thresholdDb),
      slope_(settings.ratio > 1.0f ? 1.0f - 1.0f / settings.ratio : 0.0f),
      attack_(onePoleCoefficient(settings.attackMs, sampleRate)),
      peakRelease_(onePoleCoefficient(std::max(settings.releaseMs - settings.attackMs, 0.0f), sampleRate)),
      makeUpDb_(settings.makeUpDb),
      makeUp_(dbToGain(settings.makeUpDb)) {}

float Compressor::staticReductionDb(float levelDb) const {
    return levelDb > thresholdDb_ ? (levelDb - thresholdDb_) * slope_ : 0.0f;
}

void Compressor::process(float* samples, int frames) {
    for (int i = 0; i < frames; ++i) {
        const float level = std::fabs(samples[i]);
        const float wanted = level > threshold_ ? (20.0f * std::log10(level) - thresholdDb_) * slope_ : 0.0f;
        peak_ = std::max(wanted, wanted + peakRelease_ * (peak_ - wanted));
        if (peak_ < kNegligibleDb) peak_ = 0.0f;
        reduction_ = peak_ + attack_ * (reduction_ - peak_);
        if (reduction_ < kNegligibleDb) reduction_ = 0.0f;
        samples[i] *= reduction_ == 0.0f ? makeUp_ : dbToGain(makeUpDb_ - reduction_);
    }
}

}  // namespace vantry::audio
