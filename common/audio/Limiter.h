// A stereo look-ahead limiter with a true ceiling: no output sample's magnitude exceeds the
// ceiling. It delays the sound by the look-ahead, during which the gain glides down to what
// the coming peak needs; afterwards the gain recovers with the release time. Both channels
// get the same gain, so the stereo image stays put.
#pragma once

#include <cstdint>
#include <vector>

namespace vantry::audio {

struct LimiterSettings {
    float ceilingDb = -1.0f;
    float lookAheadMs = 2.0f;
    float releaseMs = 50.0f;  // time constant of the gain's recovery
};

class Limiter {
  public:
    // Allocates every buffer here; process() allocates nothing.
    explicit Limiter(int sampleRate, const LimiterSettings& settings = {});

    // Limits planar stereo in place; the output lags the input by latencyFrames().
    void process(float* left, float* right, int frames);
    int latencyFrames() const { return lookAhead_; }
    float ceiling() const { return ceiling_; }
    // The gain the last output sample got.
    float gain() const { return gain_; }

  private:
    float ceiling_;
    float release_;
    int lookAhead_;  // L: the window of gains and of the box smoother is L + 1 frames
    int window_;
    // The delayed sound (window_ frames, ring).
    std::vector<float> delayLeft_;
    std::vector<float> delayRight_;
    // Sliding minimum of the needed gains over the window: a ring of increasing values.
    std::vector<float> minValue_;
    std::vector<std::int64_t> minIndex_;
    int minHead_ = 0;
    int minCount_ = 0;
    // The held gains the box smoother averages (window_ frames, ring) and their sum.
    std::vector<float> held_;
    double heldSum_;
    float lastHeld_ = 1.0f;
    float gain_ = 1.0f;
    int pos_ = 0;
    std::int64_t frame_ = 0;
};

}  // namespace vantry::audio
