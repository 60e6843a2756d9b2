// Encoding speed and rate control of the video writer per x264 preset:
// 90 frames of 1920x1080 at 30 fps and 16 Mbit/s, already in memory, so only
// conversion, encoding and muxing are timed. Counters: achieved bit rate of the
// file relative to the target, picture quality (PSNR) and frames per second.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 90;

void encode(benchmark::State& state, const char* preset) {
    static const auto input = vantry::bench::studioLikePictures(kWidth, kHeight, kFrames);
    const auto file = std::filesystem::temp_directory_path() / "vantry-bench-writer.mp4";
    vantry::platform::VideoWriterSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.fps = 30;
    s.averageBitRate = 16'000'000;
    s.preset = preset;
    const double cpuStart = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        vantry::platform::VideoWriter writer(file, s);
        for (int n = 0; n < kFrames; ++n) writer.appendBGRA(input[n].data(), kWidth * 4, n);
        writer.finish();
    }
    state.counters["proc_cpu_s"] = (vantry::bench::cpuSeconds() - cpuStart) / double(state.iterations());
    const auto info = vantry::platform::probeVideoFile(file);
    state.counters["rate_vs_target"] = info.fileBitRate() / s.averageBitRate;
    // Picture quality at that rate: PSNR of every tenth decoded frame against its source (B, G, R).
    const auto decoded =
        vantry::platform::decodeVideoFrames(file, [](std::int64_t i) { return i % 10 == 0; });
    double squared = 0;
    std::size_t samples = 0;
    for (const auto& f : decoded) {
        const auto& src = input[f.index];
        for (std::size_t p = 0; p < f.bgra.size(); p += 4)
            for (int c = 0; c < 3; ++c) {
                const double d = double(f.bgra[p + c]) - double(src[p + c]);
                squared += d * d;
                ++samples;
            }
    }
    state.counters["psnr_db"] = samples ? 10 * std::log10(255.0 * 255.0 / (squared / samples)) : 0;
    state.counters["fps"] =
        benchmark::Counter(double(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    std::filesystem::remove(file);
}

}  // namespace

BENCHMARK_CAPTURE(encode, ultrafast, "ultrafast")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(encode, superfast, "superfast")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(encode, veryfast, "veryfast")->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK_CAPTURE(encode, faster, "faster")->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
