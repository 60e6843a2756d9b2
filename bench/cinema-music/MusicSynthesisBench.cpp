// Four seconds of music synthesis at 44.1 kHz per state, as a multiple of real time, against a
// baseline that fills the same two channels with one sine per sample.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "creator/cinema-music/MusicSynthesis.h"

using namespace vantry::creator;

namespace {

constexpr double kSeconds = 4.0;
constexpr double kRate = 44100.0;

void BM_OneSineBaseline(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(kSeconds * kRate);
    for (auto _ : state) {
        std::vector<float> l(n), r(n);
        for (std::size_t i = 0; i < n; ++i) {
            const float t = static_cast<float>(i) / static_cast<float>(kRate);
            l[i] = r[i] = std::sin(6.283185f * 220.0f * t);
        }
        benchmark::DoNotOptimize(l.data());
        benchmark::DoNotOptimize(r.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_OneSineBaseline)->Unit(benchmark::kMillisecond);

void BM_SynthesizeFourSeconds(benchmark::State& state) {
    const auto music = OruMusicIntensityStateV950::allCases()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(music.rawValue()));
    for (auto _ : state) {
        auto b = synthesizeStemBuffer(music, kSeconds, kRate);
        benchmark::DoNotOptimize(b.samplesL.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SynthesizeFourSeconds)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace
