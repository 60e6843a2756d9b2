// The gate, the compressor and the limiter against reference signals: static curves, time
// constants, the gate's hold and the limiter's ceiling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/audio/Compressor.h"
#include "common/audio/Limiter.h"
#include "common/audio/NoiseGate.h"
#include "common/audio/ProgrammeMixer.h"
#include "tests/support/AudioSignals.h"

namespace vantry::audio {
namespace {

using testing::amplitudeOf;
using testing::framesOf;
using testing::kTestRate;

// --- Static curves: output peak level for a steady 1 kHz sine, after a second of settling.

struct CurvePoint {
    double inDb;
    double outDb;  // kSilenceDb: silence
};

double settledPeakDb(const std::function<void(std::vector<float>&)>& process, double inDb) {
    std::vector<float> x = testing::sine(inDb, 1000.0, kTestRate);
    process(x);
    return testing::peakDb(x, kTestRate - framesOf(100), kTestRate);
}

TEST(NoiseGate, StaticCurve) {
    const std::vector<CurvePoint> points = {{-70, kSilenceDb}, {-50, kSilenceDb}, {-46, kSilenceDb},
                                            {-44, -44},        {-30, -30},        {-6, -6}};
    for (const CurvePoint& p : points) {
        NoiseGate gate(kTestRate);
        const double out =
            settledPeakDb([&](std::vector<float>& x) { gate.process(x.data(), int(x.size())); }, p.inDb);
        if (p.outDb == kSilenceDb)
            EXPECT_LT(out, -150.0) << "in " << p.inDb << " dBFS";
        else
            EXPECT_NEAR(out, p.outDb, 0.01) << "in " << p.inDb << " dBFS";
    }
}

TEST(Compressor, StaticCurveWithMakeUp) {
    // Hard knee at -18 dBFS, 3:1, +4 dB make-up: speech peaks at -12 dBFS come out unchanged.
    const std::vector<CurvePoint> points = {{-40, -36}, {-24, -20}, {-18, -14},
                                            {-12, -12}, {-6, -10},  {0, -8}};
    for (const CurvePoint& p : points) {
        Compressor compressor(kTestRate);
        const double out = settledPeakDb(
            [&](std::vector<float>& x) { compressor.process(x.data(), int(x.size())); }, p.inDb);
        EXPECT_NEAR(out, p.outDb, 0.25) << "in " << p.inDb << " dBFS";
    }
}

TEST(Limiter, StaticCurveHoldsPeaksAtTheCeiling) {
    const std::vector<CurvePoint> points = {{-20, -20}, {-3, -3}, {-1.2, -1.2}, {0, -1},
                                            {6, -1},    {12, -1}, {20, -1}};
    for (const CurvePoint& p : points) {
        Limiter limiter(kTestRate);
        const double out = settledPeakDb(
            [&](std::vector<float>& x) {
                std::vector<float> right = x;
                limiter.process(x.data(), right.data(), int(x.size()));
            },
            p.inDb);
        EXPECT_NEAR(out, p.outDb, 0.05) << "in " << p.inDb << " dBFS";
    }
}

// Once the signal is quiet the reduction comes back to exactly none (no creeping through
// denormal numbers), and the make-up gain alone applies.
TEST(Compressor, ReductionReturnsToExactlyNoneInQuiet) {
    Compressor compressor(kTestRate);
    std::vector<float> x = testing::sine(0, 1000, kTestRate / 10);
    compressor.process(x.data(), int(x.size()));
    EXPECT_GT(compressor.reductionDb(), 10.0f);
    std::vector<float> quiet(kTestRate, 0.01f);
    compressor.process(quiet.data(), int(quiet.size()));
    EXPECT_EQ(compressor.reductionDb(), 0.0f);
    EXPECT_FLOAT_EQ(quiet.back(), 0.01f * amplitudeOf(4));
}

// --- Time constants: the time from a step until 1 - 1/e of the change is done.

struct TimeConstantCase {
    std::string name;
    double expectedMs;
    double toleranceMs;
    // Runs the step and returns the measured time in ms.
    std::function<double()> measure;
};

// Frames after `from` until the trace has covered 1 - 1/e of the way from its value just
// before `from` to `end`.
double timeConstantMs(const std::vector<float>& trace, int from, float end) {
    const float start = trace[from - 1];
    const float mark = end + (start - end) / float(std::exp(1.0));
    const int at =
        testing::firstIndex(trace, from, [&](float v) { return start < end ? v >= mark : v <= mark; });
    return at < 0 ? 1e9 : (at - from + 1) * 1000.0 / kTestRate;
}

// Gain trace of a processor fed `first` for `firstFrames`, then `second`.
template <typename Step>
std::vector<float> trace(int frames, Step step) {
    std::vector<float> out(frames);
    for (int i = 0; i < frames; ++i) out[i] = step(i);
    return out;
}

std::vector<TimeConstantCase> timeConstantCases() {
    const int stepAt = framesOf(500);
    return {
        {"GateAttack", 5.0, 0.05,
         [=] {
             NoiseGate gate(kTestRate);
             auto t = trace(kTestRate, [&](int i) {
                 float x = i < stepAt ? 0.0f : 0.1f;
                 gate.process(&x, 1);
                 return gate.gain();
             });
             return timeConstantMs(t, stepAt, 1.0f);
         }},
        {"GateRelease", 150.0, 0.05,
         [=] {
             // Release starts once the hold has run out.
             NoiseGate gate(kTestRate);
             const int holdEnd = stepAt + framesOf(200);
             auto t = trace(2 * kTestRate, [&](int i) {
                 float x = i < stepAt ? 0.1f : 0.0f;
                 gate.process(&x, 1);
                 return gate.gain();
             });
             return timeConstantMs(t, holdEnd, 0.0f);
         }},
        {"CompressorAttack", 6.0, 0.1,
         [=] {
             Compressor compressor(kTestRate);
             auto t = trace(kTestRate, [&](int i) {
                 float x = i < stepAt ? amplitudeOf(-30) : 1.0f;
                 compressor.process(&x, 1);
                 return compressor.reductionDb();
             });
             return timeConstantMs(t, stepAt, 12.0f);
         }},
        {"CompressorRelease", 60.0, 1.0,
         [=] {
             Compressor compressor(kTestRate);
             auto t = trace(kTestRate, [&](int i) {
                 float x = i < stepAt ? 1.0f : amplitudeOf(-30);
                 compressor.process(&x, 1);
                 return compressor.reductionDb();
             });
             return timeConstantMs(t, stepAt, 0.0f);
         }},
        {"LimiterRelease", 50.0, 2.0,
         [=] {
             // From the first output frame after a +12 dBFS stretch; the look-ahead's box
             // smoother adds half the look-ahead (1 ms).
             Limiter limiter(kTestRate);
             auto t = trace(kTestRate, [&](int i) {
                 float l = i < stepAt ? amplitudeOf(12) : amplitudeOf(-20);
                 float r = l;
                 limiter.process(&l, &r, 1);
                 return limiter.gain();
             });
             return timeConstantMs(t, stepAt + limiter.latencyFrames(), 1.0f);
         }},
    };
}

TEST(Dynamics, TimeConstants) {
    for (const TimeConstantCase& c : timeConstantCases())
        EXPECT_NEAR(c.measure(), c.expectedMs, c.toleranceMs) << c.name;
}

TEST(NoiseGate, HoldsOpenForTheHoldTimeAfterTheLastPeak) {
    NoiseGate gate(kTestRate);
    // Open it, then a last peak at lastPeak, then quiet (below the threshold, not silent).
    const int lastPeak = framesOf(300);
    std::vector<float> gains(kTestRate);
    for (int i = 0; i < kTestRate; ++i) {
        float x = i <= lastPeak ? (i % 48 == 0 ? 0.2f : 0.0f) : amplitudeOf(-50);
        gate.process(&x, 1);
        gains[i] = gate.gain();
    }
    const int holdFrames = framesOf(200);
    // Fully open through the hold, closing from the first frame after it.
    EXPECT_GT(gains[lastPeak + holdFrames], 0.9999f);
    EXPECT_LT(gains[lastPeak + holdFrames + 1], gains[lastPeak + holdFrames]);
    // Gaps between peaks shorter than the hold never close it.
    for (int i = framesOf(50); i <= lastPeak; ++i) ASSERT_GT(gains[i], 0.9999f) << i;
}

// --- The ceiling on clipping input.

struct ClippingCase {
    std::string name;
    std::function<float(int)> left;
    std::function<float(int)> right;
};

// The ceiling holds by the gain alone, the same on both channels: the final clamp only takes
// out rounding, it never clips a peak (which would change one channel's gain only).
TEST(Limiter, NoSampleAboveTheCeilingOnClippingInput) {
    const float over = amplitudeOf(12);
    const auto loudSine = testing::sine(12, 997, kTestRate);
    const auto loudHiss = testing::hiss(6, kTestRate);
    const std::vector<ClippingCase> cases = {
        {"sine +12 dBFS", [&](int i) { return loudSine[i]; }, [&](int i) { return -loudSine[i]; }},
        {"square +12 dBFS", [&](int i) { return (i / 24) % 2 ? over : -over; },
         [&](int i) { return (i / 24) % 2 ? over : -over; }},
        {"lone clicks +12 dBFS", [&](int i) { return i % 1000 == 0 ? over : 0.0f; },
         [](int) { return 0.0f; }},
        {"steps from quiet to +12 dBFS", [&](int i) { return (i / 2400) % 2 ? over : 0.01f; },
         [&](int i) { return (i / 2400) % 2 ? 0.01f : -over; }},
        {"hiss +6 dBFS RMS", [&](int i) { return loudHiss[i]; },
         [&](int i) { return loudHiss[(i + 100) % kTestRate]; }},
    };
    for (const ClippingCase& c : cases) {
        Limiter limiter(kTestRate);
        const float ceiling = amplitudeOf(-1);
        const int lag = limiter.latencyFrames();
        float peak = 0.0f;
        float worstGainMismatch = 0.0f;
        std::vector<float> l(480), r(480);
        for (int block = 0; block < 100; ++block) {
            for (int i = 0; i < 480; ++i) {
                l[i] = c.left(block * 480 + i);
                r[i] = c.right(block * 480 + i);
            }
            limiter.process(l.data(), r.data(), 480);
            for (int i = 0; i < 480; ++i) {
                peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
                const int t = block * 480 + i - lag;
                if (t < 0) continue;
                const float inL = c.left(t), inR = c.right(t);
                // out = g * in on both sides: outL inR == outR inL.
                worstGainMismatch = std::max(worstGainMismatch, std::fabs(l[i] * inR - r[i] * inL));
            }
        }
        EXPECT_LE(peak, ceiling) << c.name;
        EXPECT_LT(worstGainMismatch, 1e-5f) << c.name;
        EXPECT_GT(peak, ceiling * 0.9f) << c.name << ": limited, not squashed";
    }
}

TEST(Limiter, PassesSoundUnderTheCeilingUnchangedAfterItsLookAhead) {
    Limiter limiter(kTestRate);
    const auto x = testing::hiss(-12, kTestRate);
    std::vector<float> l = x;
    std::vector<float> r = x;
    for (float& s : l) s = std::clamp(s, -0.8f, 0.8f);
    for (float& s : r) s = std::clamp(s, -0.8f, 0.8f);
    const std::vector<float> in = l;
    limiter.process(l.data(), r.data(), kTestRate);
    const int lag = limiter.latencyFrames();
    EXPECT_EQ(lag, framesOf(2));
    for (int i = 0; i < lag; ++i) ASSERT_EQ(l[i], 0.0f);
    for (int i = lag; i < kTestRate; ++i) ASSERT_EQ(l[i], in[i - lag]) << i;
}

}  // namespace
}  // namespace vantry::audio
