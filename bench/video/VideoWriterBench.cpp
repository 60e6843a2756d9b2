// Encoding speed and rate control of the video writer per x264 preset:
// 90 frames of 1920x1080 at 30 fps and 16 Mbit/s, already in memory, so only
// conversion, encoding and muxing are timed. Counters: achieved bit rate of the
// file relative to the target, and frames per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <vector>

#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 90;

// Studio-like content: soft gradients, a moving bright block, fine grain.
const std::vector<std::vector<std::uint8_t>>& frames() {
    static const auto all = [] {
        std::vector<std::vector<std::uint8_t>> out(kFrames);
        std::mt19937 rng(3);
        std::uniform_int_distribution<int> grain(0, 6);
        for (int n = 0; n < kFrames; ++n) {
            auto& f = out[n];
            f.resize(std::size_t(kWidth) * kHeight * 4);
            const int bx = 200 + n * 12, by = 300 + int(80 * std::sin(n * 0.2));
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    std::uint8_t* p = &f[(std::size_t(y) * kWidth + x) * 4];
                    const bool block = x >= bx && x < bx + 400 && y >= by && y < by + 300;
                    p[0] = std::uint8_t(block ? 240 : 40 + (x * 120) / kWidth + grain(rng));
                    p[1] = std::uint8_t(block ? 200 : 30 + (y * 90) / kHeight + grain(rng));
                    p[2] = std::uint8_t(block ? 60 : 20 + ((x + y + n * 8) % 512) / 4);
                    p[3] = 255;
                }
            }
        }
        return out;
    }();
    return all;
}

void encode(benchmark::State& state, const char* preset) {
    const auto& input = frames();
    const auto file = std::filesystem::temp_directory_path() / "vantry-bench-writer.mp4";
    vantry::platform::VideoWriterSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.fps = 30;
    s.averageBitRate = 16'000'000;
    s.preset = preset;
    for (auto _ : state) {
        vantry::platform::VideoWriter writer(file, s);
        for (int n = 0; n < kFrames; ++n) writer.appendBGRA(input[n].data(), kWidth * 4, n);
        writer.finish();
    }
    const auto info = vantry::platform::probeVideoFile(file);
    state.counters["rate_vs_target"] = info.fileBitRate() / s.averageBitRate;
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
