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

#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 90;

// CPU seconds of the whole process, encoder threads included: on a shared
// machine wall time follows the load, this follows the work.
double processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Studio-like content: soft moving gradients, a bright block sliding across,
// and a panel of fine moving detail (like text or a textured wall). No random
// grain, which no preset can compress and which would hide their differences.
const std::vector<std::vector<std::uint8_t>>& frames() {
    static const auto all = [] {
        std::vector<std::vector<std::uint8_t>> out(kFrames);
        for (int n = 0; n < kFrames; ++n) {
            auto& f = out[n];
            f.resize(std::size_t(kWidth) * kHeight * 4);
            const int bx = 200 + n * 12, by = 300 + int(80 * std::sin(n * 0.2));
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    std::uint8_t* p = &f[(std::size_t(y) * kWidth + x) * 4];
                    const bool block = x >= bx && x < bx + 400 && y >= by && y < by + 300;
                    const bool detail = x >= 1100 && x < 1800 && y >= 600 && y < 1000;
                    const double wave = 30 * std::sin(x * 0.013 + n * 0.11) * std::cos(y * 0.011 - n * 0.07);
                    int b = int(60 + (x * 120) / kWidth + wave), g = int(40 + (y * 90) / kHeight + wave / 2),
                        r = int(30 + ((x + y + n * 8) % 512) / 4);
                    if (block) b = 240, g = 200, r = 60;
                    if (detail) {
                        const int u = x + n * 3, v = y + n;
                        const int on = ((u / 3 + v / 7) % 2) ^ ((u * u / 97 + v) % 3 == 0);
                        b = g = r = on ? 230 : 25;
                    }
                    p[0] = std::uint8_t(std::clamp(b, 0, 255));
                    p[1] = std::uint8_t(std::clamp(g, 0, 255));
                    p[2] = std::uint8_t(std::clamp(r, 0, 255));
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
    const double cpuStart = processCpuSeconds();
    for (auto _ : state) {
        vantry::platform::VideoWriter writer(file, s);
        for (int n = 0; n < kFrames; ++n) writer.appendBGRA(input[n].data(), kWidth * 4, n);
        writer.finish();
    }
    state.counters["proc_cpu_s"] = (processCpuSeconds() - cpuStart) / double(state.iterations());
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
