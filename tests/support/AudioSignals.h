// Reference signals and level measures for the sound processing tests (48 kHz unless given).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace vantry::testing {

inline constexpr int kTestRate = 48000;

inline int framesOf(double ms, int rate = kTestRate) {
    return static_cast<int>(std::lround(ms * rate / 1000.0));
}

inline float amplitudeOf(double db) {
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

inline double dbOf(double amplitude) {
    return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -200.0;
}

// A sine of peak amplitude amplitudeOf(peakDb).
inline std::vector<float> sine(double peakDb, double hz, int frames, int rate = kTestRate) {
    std::vector<float> out(frames);
    const double a = amplitudeOf(peakDb);
    for (int i = 0; i < frames; ++i)
        out[i] = static_cast<float>(a * std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return out;
}

// Gaussian white noise of RMS level rmsDb, the same for the same seed.
inline std::vector<float> hiss(double rmsDb, int frames, std::uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0.0, amplitudeOf(rmsDb));
    std::vector<float> out(frames);
    for (float& s : out) s = static_cast<float>(normal(random));
    return out;
}

// Voiced syllables: a 150 Hz buzz with its harmonics to 3 kHz (falling 6 dB an octave) under a
// smooth 4 Hz envelope, sounding for the first half of every `periodMs` and silent for the
// other half; peaks near amplitudeOf(peakDb).
inline bool speechSounds(int frame, double periodMs = 800.0, int rate = kTestRate) {
    const int period = framesOf(periodMs, rate);
    return frame % period < period / 2;
}

inline std::vector<float> speechLike(double peakDb, int frames, double periodMs = 800.0,
                                     int rate = kTestRate) {
    std::vector<float> out(frames, 0.0f);
    const int period = framesOf(periodMs, rate);
    const double a = amplitudeOf(peakDb) / 2.2;  // the harmonics' sum peaks near 2.2
    for (int i = 0; i < frames; ++i) {
        if (!speechSounds(i, periodMs, rate)) continue;
        const double inSyllable = static_cast<double>(i % period) / (period / 2);
        const double envelope = std::sin(std::numbers::pi * inSyllable);
        double v = 0.0;
        for (int h = 1; h * 150 <= 3000; ++h)
            v += std::sin(2.0 * std::numbers::pi * 150.0 * h * i / rate) / h;
        out[i] = static_cast<float>(a * envelope * v);
    }
    return out;
}

inline double peakDb(const std::vector<float>& x, int begin, int end) {
    float peak = 0.0f;
    for (int i = begin; i < end; ++i) peak = std::max(peak, std::fabs(x[i]));
    return dbOf(peak);
}

inline double rmsDb(const std::vector<float>& x, int begin, int end) {
    double sum = 0.0;
    for (int i = begin; i < end; ++i) sum += double{x[i]} * x[i];
    return dbOf(std::sqrt(sum / std::max(end - begin, 1)));
}

// First index from `from` on where pred(x[i]) holds; -1 if none.
template <typename Pred>
int firstIndex(const std::vector<float>& x, int from, Pred pred) {
    for (int i = from; i < static_cast<int>(x.size()); ++i)
        if (pred(x[i])) return i;
    return -1;
}

}  // namespace vantry::testing
