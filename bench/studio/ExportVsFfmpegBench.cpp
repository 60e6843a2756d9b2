// The 90-frame 1920x1080 export at the wide desk (a moving angle: every frame is drawn) against
// ffmpeg's own encode of the same 90 frames, in the same run. The frames are rendered once
// beforehand into a raw BGRA file, which ffmpeg encodes with the export's settings (libx264,
// preset veryfast, 16 Mbit/s average held by a cap of the same rate over half a second,
// BT.709 limited range, one encoder thread as the export's writer uses).
// Counters: seconds of wall-clock and processor time of each, and the export's multiple of
// ffmpeg's (wall clock follows the machine's load; processor time follows the work).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/support/BenchSupport.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 90;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Export90FramesAgainstFfmpeg(benchmark::State& state) {
    auto& engine = vantry::bench::sharedEngine();
    engine.setCameraAngle(vantry::BroadcastCameraAngle::wideDesk);
    const fs::path dir = fs::temp_directory_path();
    const fs::path raw = dir / "vantry_bench_export_frames.bgra";
    const fs::path exported = dir / "vantry_bench_export_engine.mp4";
    const fs::path encoded = dir / "vantry_bench_export_ffmpeg.mp4";
    {
        // The export's frames: frame n at n / 30 seconds.
        std::ofstream file(raw, std::ios::binary | std::ios::trunc);
        for (int n = 0; n < kFrames; ++n) {
            const auto pixels = engine.renderOffscreenBGRA(kWidth, kHeight, float(n) / 30.0f);
            if (!pixels) {
                state.SkipWithError("no frame");
                return;
            }
            file.write(reinterpret_cast<const char*>(pixels->data()), std::streamsize(pixels->size()));
        }
        if (!file) {
            state.SkipWithError("cannot write the frames");
            return;
        }
    }
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt bgra -s " + std::to_string(kWidth) +
        "x" + std::to_string(kHeight) + " -framerate 30 -i '" + raw.string() +
        "' -vf scale=out_color_matrix=bt709:out_range=tv:flags=bilinear -pix_fmt yuv420p -c:v libx264"
        " -preset veryfast -b:v 16M -maxrate 16M -bufsize 8M -threads 1 -colorspace bt709"
        " -color_primaries bt709 -color_trc bt709 -color_range tv -movflags +faststart '" +
        encoded.string() + "'";
    for (auto _ : state) {
        const double cpu0 = vantry::bench::cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        engine.exportBroadcastMP4(kWidth, kHeight, double(kFrames) / 30.0, exported);
        const double exportWall = secondsSince(start);
        const double exportCpu = vantry::bench::cpuSeconds() - cpu0;

        const double child0 = vantry::bench::cpuSeconds(vantry::bench::CpuOf::children);
        const auto ffStart = std::chrono::steady_clock::now();
        const int rc = std::system(command.c_str());
        const double ffWall = secondsSince(ffStart);
        const double ffCpu = vantry::bench::cpuSeconds(vantry::bench::CpuOf::children) - child0;
        if (rc != 0) {
            state.SkipWithError("ffmpeg failed (installed by scripts/install-deps)");
            break;
        }
        state.SetIterationTime(exportWall);
        state.counters["export_s"] = exportWall;
        state.counters["export_cpu_s"] = exportCpu;
        state.counters["ffmpeg_s"] = ffWall;
        state.counters["ffmpeg_cpu_s"] = ffCpu;
        state.counters["times_ffmpeg"] = ffWall > 0 ? exportWall / ffWall : 0;
        state.counters["cpu_times_ffmpeg"] = ffCpu > 0 ? exportCpu / ffCpu : 0;
    }
    fs::remove(raw);
    fs::remove(exported);
    fs::remove(encoded);
}
BENCHMARK(BM_Export90FramesAgainstFfmpeg)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
