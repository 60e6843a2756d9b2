#include "common/audio/NoiseGate.h"

#include <cmath>

#include "common/audio/Decibels.h"

namespace vantry::audio {

namespace {
// Below this (-120 dB) a closing gate is shut: the fade stops short of denormal numbers.
constexpr float kShut = 1e-6f;
}  // namespace

NoiseGate::NoiseGate(int sampleRate, const NoiseGateSettings& settings)
    : threshold_(dbToGain(settings.thresholdDb)),
      attack_(onePoleCoefficient(settings.attackMs, sampleRate)),
      release_(onePoleCoefficient(settings.releaseMs, sampleRate)),
      holdFrames_(static_cast<int>(std::lround(settings.holdMs * static_cast<float>(sampleRate) / 1000.0f))) {
}

void NoiseGate::process(float* samples, int frames) {
    for (int i = 0; i < frames; ++i) {
        if (std::fabs(samples[i]) >= threshold_)
            holdLeft_ = holdFrames_ + 1;  // this frame and the hold after it
        if (holdLeft_ > 0) {
            --holdLeft_;
            gain_ = 1.0f - attack_ * (1.0f - gain_);
        } else {
            gain_ *= release_;
            if (gain_ < kShut) gain_ = 0.0f;
        }
        samples[i] *= gain_;
    }
}

}  // namespace vantry::audio
