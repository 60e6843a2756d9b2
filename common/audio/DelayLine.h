// A mono delay line of fixed capacity. A change of delay crossfades, over one block, from
// the sound at the old delay to the sound at the new one, so it neither clicks nor reads
// outside what was written (the line starts as silence).
#pragma once

#include <vector>

namespace vantry::audio {

class DelayLine {
  public:
    // Allocates here; process() allocates nothing.
    DelayLine(int maxDelayFrames, int maxBlockFrames);

    // Writes `frames` samples of in (null: silence) and reads as many, delayFrames behind,
    // into out. frames <= maxBlockFrames; delayFrames is clamped to 0..maxDelayFrames.
    void process(const float* in, float* out, int frames, int delayFrames);
    int delayFrames() const { return delay_; }
    // Sets the delay without a glide: for a line that has carried only silence so far.
    void jumpTo(int delayFrames);

  private:
    float at(int frameBack) const { return buffer_[(write_ - frameBack) & mask_]; }

    std::vector<float> buffer_;
    int mask_;
    int maxDelay_;
    int write_ = 0;  // slot of the next sample
    int delay_ = 0;
};

}  // namespace vantry::audio
