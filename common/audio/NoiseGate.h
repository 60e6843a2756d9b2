// A noise gate: passes the signal while its peaks reach the threshold and for the hold time
// after the last one, then fades it out; opens again as soon as a peak reaches the threshold.
#pragma once

namespace vantry::audio {

struct NoiseGateSettings {
    float thresholdDb = -45.0f;  // peak level in dBFS that opens the gate
    float attackMs = 5.0f;       // time constant of the opening fade
    float holdMs = 200.0f;       // open this long after the last peak at or above the threshold
    float releaseMs = 150.0f;    // time constant of the closing fade
};

class NoiseGate {
  public:
    explicit NoiseGate(int sampleRate, const NoiseGateSettings& settings = {});

    // Gates mono samples in place. Starts closed.
    void process(float* samples, int frames);
    // The gain the last sample got, 0 (closed) to 1 (open).
    float gain() const { return gain_; }

  private:
    float threshold_;
    float attack_;
    float release_;
    int holdFrames_;
    int holdLeft_ = 0;
    float gain_ = 0.0f;
};

}  // namespace vantry::audio
