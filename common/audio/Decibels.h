// Level conversions and one-pole time constants shared by the sound processors.
#pragma once

#include <cmath>

namespace vantry::audio {

// Amplitude of a level in dB (0 dB = 1 = full scale).
inline float dbToGain(float db) {
    return std::pow(10.0f, db / 20.0f);
}

// Level in dB of an amplitude; floorDb for silence and anything quieter.
inline float gainToDb(float gain, float floorDb) {
    if (!(gain > 0.0f)) return floorDb;
    const float db = 20.0f * std::log10(gain);
    return db < floorDb ? floorDb : db;
}

// Coefficient a of the one-pole smoother y += (1 - a) (x - y): after timeMs the distance
// left to a step's end is 1/e (the step response's time constant). 0 ms jumps at once.
inline float onePoleCoefficient(float timeMs, int sampleRate) {
    if (!(timeMs > 0.0f)) return 0.0f;
    return std::exp(-1000.0f / (timeMs * static_cast<float>(sampleRate)));
}

}  // namespace vantry::audio
