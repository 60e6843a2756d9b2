// The programme mix's cost per second of 48 kHz stereo sound, against a pass-through that
// only sums the sources, in the same run. Every iteration mixes one second (100 blocks) of a
// noisy voice, desktop music and wall video sound.
//   core_pct    processor time per second of sound, in % of one core
//   latency_ms  the delay the chain adds to every source
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "common/audio/ProgrammeMixer.h"
#include "platform/audio-mix/SpeexNoiseSuppressor.h"

namespace {

using namespace vantry::audio;

constexpr int kBlocksPerSecond = kSampleRate / kBlockFrames;

struct Sound {
    std::vector<float> voice, musicLeft, musicRight, wall;
};

// One second of each source.
const Sound& sound() {
    static const Sound s = [] {
        Sound out;
        std::mt19937 random(3);
        std::normal_distribution<float> hiss(0.0f, 0.01f);
        for (int i = 0; i < kSampleRate; ++i) {
            const double t = double(i) / kSampleRate;
            const double syllable = std::max(0.0, std::sin(2.0 * std::numbers::pi * 2.5 * t));
            out.voice.push_back(float(0.2 * syllable * std::sin(2.0 * std::numbers::pi * 180.0 * t)) +
                                hiss(random));
            out.musicLeft.push_back(float(0.3 * std::sin(2.0 * std::numbers::pi * 220.0 * t)));
            out.musicRight.push_back(float(0.3 * std::sin(2.0 * std::numbers::pi * 330.0 * t)));
            out.wall.push_back(float(0.2 * std::sin(2.0 * std::numbers::pi * 440.0 * t)));
        }
        return out;
    }();
    return s;
}

std::array<StereoBlock, kMixSourceCount> blocksAt(const Sound& s, int block) {
    const int at = block * kBlockFrames;
    return {StereoBlock{s.voice.data() + at, s.voice.data() + at},
            StereoBlock{s.musicLeft.data() + at, s.musicRight.data() + at},
            StereoBlock{s.wall.data() + at, s.wall.data() + at}};
}

void report(benchmark::State& state, double cpuStart, int latencyFrames) {
    const double cpu = vantry::bench::cpuSeconds() - cpuStart;
    state.counters["core_pct"] = 100.0 * cpu / double(state.iterations());
    state.counters["latency_ms"] = 1000.0 * latencyFrames / kSampleRate;
}

// The sources summed into the output, nothing more.
void BM_PassThrough(benchmark::State& state) {
    const Sound& s = sound();
    std::array<float, kBlockFrames> left{}, right{};
    const double start = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        for (int b = 0; b < kBlocksPerSecond; ++b) {
            const auto in = blocksAt(s, b);
            for (int i = 0; i < kBlockFrames; ++i) {
                left[i] = in[0].left[i] + in[1].left[i] + in[2].left[i];
                right[i] = in[0].right[i] + in[1].right[i] + in[2].right[i];
            }
            benchmark::DoNotOptimize(left.data());
            benchmark::DoNotOptimize(right.data());
            benchmark::ClobberMemory();
        }
    }
    report(state, start, 0);
}
BENCHMARK(BM_PassThrough)->Unit(benchmark::kMillisecond);

// The whole chain: arg 0 without noise suppression, 1 with SpeexDSP's.
void BM_ProgrammeMix(benchmark::State& state) {
    const Sound& s = sound();
    ProgrammeMixer mixer(state.range(0) ? std::make_unique<vantry::platform::SpeexNoiseSuppressor>()
                                        : nullptr);
    for (MixSource source : {MixSource::mic, MixSource::desktop, MixSource::wallVideo})
        mixer.setSettings(source, {false, -3.0f, 40});
    std::array<float, kBlockFrames> left{}, right{};
    const double start = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        for (int b = 0; b < kBlocksPerSecond; ++b) {
            mixer.process(blocksAt(s, b), left.data(), right.data());
            benchmark::DoNotOptimize(left.data());
            benchmark::ClobberMemory();
        }
    }
    report(state, start, mixer.latencyFrames());
}
BENCHMARK(BM_ProgrammeMix)->ArgName("speex")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
