// 9:16 highlight clip: a whole 90-frame export (drawing + encoding + muxing)
// beside encoding 90 frames drawn beforehand with the same writer settings
// (1080x1920, 30 fps, 6.5 Mbit/s, key frame every 30), and drawing alone.
// The export/encode ratio is what drawing in place costs on top of the encoder.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>
#include <QGuiApplication>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/clips-and-juice/ViralClipLayout.h"
#include "platform/video/VideoWriter.h"

namespace {

namespace clipper = vantry::creator::OruViralAutoClipper9x16V1030;
namespace layout = vantry::creator::viralclip;
constexpr int kFrames = 90;

struct CpuCounter {
    benchmark::State& state;
    double start = vantry::bench::cpuSeconds();
    ~CpuCounter() {
        state.counters["proc_cpu_s"] = (vantry::bench::cpuSeconds() - start) / double(state.iterations());
    }
};

std::filesystem::path benchFile(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("vantry-bench-") + name + "-" + std::to_string(::getpid()) + ".mp4");
}

vantry::platform::VideoWriterSettings clipSettings() {
    vantry::platform::VideoWriterSettings s;
    s.width = layout::kWidth;
    s.height = layout::kHeight;
    s.fps = 30;
    s.averageBitRate = layout::kAverageBitRate;
    s.maxKeyFrameInterval = 30;
    return s;
}

void BM_ClipExport90(benchmark::State& state) {
    const auto file = benchFile("clip");
    CpuCounter cpu{state};
    for (auto _ : state) {
        const auto receipt = clipper::exportVerticalViralClip("Neon Raid", "TRIPLE KILL", "+250 XP",
                                                              std::nullopt, file, 3.0, 30);
        benchmark::DoNotOptimize(receipt.fileSizeBytes);
    }
    state.counters["fps"] =
        benchmark::Counter(double(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    std::filesystem::remove(file);
}

void BM_ClipExport90WithImage(benchmark::State& state) {
    const auto file = benchFile("clip-image");
    QImage source(1920, 1080, QImage::Format_RGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) source.setPixel(x, y, qRgb(x / 8, y / 5, (x + y) / 12));
    CpuCounter cpu{state};
    for (auto _ : state) {
        const auto receipt =
            clipper::exportVerticalViralClip("Neon Raid", "TRIPLE KILL", "+250 XP", source, file, 3.0, 30);
        benchmark::DoNotOptimize(receipt.fileSizeBytes);
    }
    state.counters["fps"] =
        benchmark::Counter(double(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    std::filesystem::remove(file);
}

void BM_EncodeDrawn90(benchmark::State& state) {
    // The same 90 frames the export draws, drawn before timing starts.
    std::vector<QImage> frames;
    frames.reserve(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        QImage img(layout::kWidth, layout::kHeight, QImage::Format_ARGB32_Premultiplied);
        clipper::drawClipFrame(img, i, kFrames, "Neon Raid", "TRIPLE KILL", "+250 XP", nullptr);
        frames.push_back(std::move(img));
    }
    const auto file = benchFile("encode");
    CpuCounter cpu{state};
    for (auto _ : state) {
        vantry::platform::VideoWriter writer(file, clipSettings());
        for (int i = 0; i < kFrames; ++i)
            writer.appendBGRA(frames[i].constBits(), frames[i].bytesPerLine(), i);
        writer.finish();
    }
    state.counters["fps"] =
        benchmark::Counter(double(kFrames) * state.iterations(), benchmark::Counter::kIsRate);
    std::filesystem::remove(file);
}

void BM_DrawOnly90(benchmark::State& state) {
    QImage img(layout::kWidth, layout::kHeight, QImage::Format_ARGB32_Premultiplied);
    CpuCounter cpu{state};
    for (auto _ : state) {
        for (int i = 0; i < kFrames; ++i)
            clipper::drawClipFrame(img, i, kFrames, "Neon Raid", "TRIPLE KILL", "+250 XP", nullptr);
        benchmark::DoNotOptimize(img.constBits());
    }
}

}  // namespace

BENCHMARK(BM_ClipExport90)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EncodeDrawn90)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DrawOnly90)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ClipExport90WithImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
