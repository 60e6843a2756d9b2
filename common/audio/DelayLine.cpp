#include "common/audio/DelayLine.h"

#include <algorithm>

namespace vantry::audio {

namespace {
int powerOfTwoAtLeast(int n) {
    int p = 1;
    while (p < n) p <<= 1;
    return p;
}
}  // namespace

DelayLine::DelayLine(int maxDelayFrames, int maxBlockFrames)
    : buffer_(powerOfTwoAtLeast(std::max(maxDelayFrames, 0) + std::max(maxBlockFrames, 1)), 0.0f),
      mask_(static_cast<int>(buffer_.size()) - 1),
      maxDelay_(std::max(maxDelayFrames, 0)) {}

void DelayLine::jumpTo(int delayFrames) {
    delay_ = std::clamp(delayFrames, 0, maxDelay_);
}

void DelayLine::process(const float* in, float* out, int frames, int delayFrames) {
    const int delay = std::clamp(delayFrames, 0, maxDelay_);
    for (int i = 0; i < frames; ++i) buffer_[(write_ + i) & mask_] = in ? in[i] : 0.0f;
    write_ = (write_ + frames) & mask_;
    // Sample i of this block lies frames - i back from the write slot.
    if (delay == delay_) {
        for (int i = 0; i < frames; ++i) out[i] = at(frames - i + delay);
        return;
    }
    for (int i = 0; i < frames; ++i) {
        const float w = static_cast<float>(i + 1) / static_cast<float>(frames);
        out[i] = (1.0f - w) * at(frames - i + delay_) + w * at(frames - i + delay);
    }
    delay_ = delay;
}

}  // namespace vantry::audio
