// Per frame t with needed gain r[t] = min(1, ceiling / peak of the frame):
//   m[t] = min(r[t-L .. t])                     (sliding minimum)
//   h[t] = min(m[t], 1 - a (1 - h[t-1]))        (release towards 1)
//   g[t] = mean(h[t-L .. t])                    (box smoother)
//   y[t] = g[t] x[t-L]
// Every h[u] with u in [t-L, t] is at most r[t-L], since each of their windows holds t-L, so
// their mean is too: |y[t]| <= ceiling. A final clamp takes out the rounding of the arithmetic.
#include "common/audio/Limiter.h"

#include <algorithm>
#include <cmath>

#include "common/audio/Decibels.h"

namespace vantry::audio {

Limiter::Limiter(int sampleRate, const LimiterSettings& settings)
    : ceiling_(dbToGain(settings.ceilingDb)),
      release_(onePoleCoefficient(settings.releaseMs, sampleRate)),
      lookAhead_(std::max(0, static_cast<int>(std::lround(settings.lookAheadMs * sampleRate / 1000.0f)))),
      window_(lookAhead_ + 1),
      delayLeft_(window_, 0.0f),
      delayRight_(window_, 0.0f),
      minValue_(window_ + 1, 1.0f),
      minIndex_(window_ + 1, 0),
      held_(window_, 1.0f),
      heldSum_(window_) {}

void Limiter::process(float* left, float* right, int frames) {
    const int capacity = static_cast<int>(minValue_.size());
    // The running sum is taken afresh once a call, so rounding cannot pile up.
    heldSum_ = 0.0;
    for (float h : held_) heldSum_ += h;
    for (int i = 0; i < frames; ++i, ++frame_) {
        const float peak = std::max(std::fabs(left[i]), std::fabs(right[i]));
        const float needed = peak > ceiling_ ? ceiling_ / peak : 1.0f;

        // Sliding minimum: drop larger values from the back, expired ones from the front.
        while (minCount_ > 0) {
            const int back = (minHead_ + minCount_ - 1) % capacity;
            if (minValue_[back] < needed) break;
            --minCount_;
        }
        const int slot = (minHead_ + minCount_) % capacity;
        minValue_[slot] = needed;
        minIndex_[slot] = frame_;
        ++minCount_;
        if (minIndex_[minHead_] <= frame_ - window_) {
            minHead_ = (minHead_ + 1) % capacity;
            --minCount_;
        }
        const float windowMin = minValue_[minHead_];

        const float held = std::min(windowMin, 1.0f - release_ * (1.0f - lastHeld_));
        lastHeld_ = held;
        heldSum_ += static_cast<double>(held) - held_[pos_];
        held_[pos_] = held;
        const float gain = std::min(1.0f, static_cast<float>(heldSum_ / window_));
        gain_ = gain;

        // The ring holds the last L + 1 frames: the slot after this one is frame t - L.
        delayLeft_[pos_] = left[i];
        delayRight_[pos_] = right[i];
        pos_ = pos_ + 1 == window_ ? 0 : pos_ + 1;
        const float outLeft = delayLeft_[pos_];
        const float outRight = delayRight_[pos_];
        left[i] = std::clamp(gain * outLeft, -ceiling_, ceiling_);
        right[i] = std::clamp(gain * outRight, -ceiling_, ceiling_);
    }
}

}  // namespace vantry::audio
