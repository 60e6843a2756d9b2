// A peak compressor with a hard knee: above the threshold the level rises 1 dB for every
// `ratio` dB of input. The gain reduction follows the signal's peaks with the attack time and
// falls back with the release time; a fixed make-up gain follows.
#pragma once

namespace vantry::audio {

struct CompressorSettings {
    float thresholdDb = -18.0f;  // peak level in dBFS
    float ratio = 3.0f;
    float attackMs = 6.0f;    // time constant of the gain reduction's rise after a louder peak
    float releaseMs = 60.0f;  // time constant of its fall once the signal is quieter
    // Speech peaking at -12 dBFS (a microphone set up with 12 dB of headroom) is reduced by
    // (-12 + 18) (1 - 1/3) = 4 dB: the make-up gives those 4 dB back, so speech at that level
    // leaves the compressor as loud as it came in.
    float makeUpDb = 4.0f;
};

class Compressor {
  public:
    explicit Compressor(int sampleRate, const CompressorSettings& settings = {});

    // Compresses mono samples in place.
    void process(float* samples, int frames);
    // Gain reduction of the static curve for a steady peak level (dB, >= 0).
    float staticReductionDb(float levelDb) const;
    // Gain reduction on the last sample (dB, >= 0), make-up not counted.
    float reductionDb() const { return reduction_; }

  private:
    float threshold_;  // linear
    float thresholdDb_;
    float slope_;  // 1 - 1/ratio
    float attack_;
    float peakRelease_;
    float makeUpDb_;
    float makeUp_;            // linear
    float peak_ = 0.0f;       // peak-held reduction (dB)
    float reduction_ = 0.0f;  // smoothed reduction (dB)
};

}  // namespace vantry::audio
