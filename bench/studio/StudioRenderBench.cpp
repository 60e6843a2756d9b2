// Studio renderer speed: offscreen 1920x1080 frames (render + resolve + read-back),
// one live frame at 1180x740, and a 90-frame 1920x1080 export against encoding the
// same 90 frames, already rendered, with the same writer settings. The argument `moving`
// picks the angle: 0 a still one (screen shoulder: its frames are drawn once and reused),
// 1 a moving one (wide desk: every frame is drawn).
// Baselines in the same run: a frame that only clears, resolves and reads back (for
// the offscreen and live frames), and the encode-only run (for the export).
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "platform/gl/EglOffscreenContext.h"
#include "platform/video/VideoWriter.h"
#include "studio/gpu/StageRenderer.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace {

using vantry::VantryMetalEngine;

VantryMetalEngine& engineAt(bool moving) {
    auto& e = vantry::bench::sharedEngine();
    e.setCameraAngle(moving ? vantry::BroadcastCameraAngle::wideDesk
                            : vantry::BroadcastCameraAngle::screenShoulder);
    return e;
}

// Baseline: the same targets cleared and resolved, without drawing; read back when
// the third argument is 1 (offscreen), waited for with glFinish otherwise (live).
void BM_Baseline_ClearResolve(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const bool readBack = state.range(2) != 0;
    auto context = vantry::platform::gl::EglOffscreenContext::create();
    if (!context || !context->makeCurrent()) {
        state.SkipWithError("no GL context");
        return;
    }
    {
        vantry::studio::gl::MultisampleTarget target;
        target.ensure(w, h);
        std::vector<std::uint8_t> pixels(std::size_t(w) * std::size_t(h) * 4);
        for (auto _ : state) {
            target.beginPass();
            if (readBack) {
                target.readBGRA(pixels.data());
            } else {
                target.resolveInto(0);
                glFinish();
            }
            benchmark::DoNotOptimize(pixels.data());
        }
    }
    context->doneCurrent();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Baseline_ClearResolve)
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 0})
    ->Args({1180, 740, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

void BM_OffscreenFrame1080p(benchmark::State& state) {
    auto& e = engineAt(state.range(0) != 0);
    float t = 0;
    for (auto _ : state) {
        auto px = e.renderOffscreenBGRA(1920, 1080, t);
        benchmark::DoNotOptimize(px);
        t += 1.0f / 30.0f;
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OffscreenFrame1080p)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// One live frame at 1180x740 into a caller's framebuffer, waited for with glFinish.
void BM_LiveFrame1180x740(benchmark::State& state) {
    auto& e = engineAt(true);
    auto context = vantry::platform::gl::EglOffscreenContext::create();
    if (!context || !context->makeCurrent()) {
        state.SkipWithError("no GL context");
        return;
    }
    constexpr int kW = 1180, kH = 740;
    GLuint rb = 0, fbo = 0;
    glGenRenderbuffers(1, &rb);
    glBindRenderbuffer(GL_RENDERBUFFER, rb);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kW, kH);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb);
    vantry::StageRenderSurface surface;
    surface.width = kW;
    surface.height = kH;
    surface.framebuffer = fbo;
    surface.contextKey = context.get();
    for (auto _ : state) {
        e.drawInSurface(surface);
        glFinish();
    }
    e.releaseContextResources(context.get());
    glDeleteFramebuffers(1, &fbo);
    glDeleteRenderbuffers(1, &rb);
    context->doneCurrent();
}

BENCHMARK(BM_LiveFrame1180x740)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// 90 frames of 1920x1080 into MP4, the way the studio's export button does it.
void BM_Export90Frames1080p(benchmark::State& state) {
    auto& e = engineAt(state.range(0) != 0);
    const auto out = std::filesystem::temp_directory_path() / "vantry_bench_export.mp4";
    for (auto _ : state) {
        const auto size = e.exportBroadcastMP4(1920, 1080, 3.0, out);
        benchmark::DoNotOptimize(size);
    }
    std::filesystem::remove(out);
}
BENCHMARK(BM_Export90Frames1080p)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// Baseline of the export: the same 90 frames, rendered beforehand, encoded with the
// same writer settings.
void BM_Baseline_Encode90RenderedFrames1080p(benchmark::State& state) {
    auto& e = engineAt(state.range(0) != 0);
    std::vector<std::vector<std::uint8_t>> frames;
    for (int n = 0; n < 90; ++n) frames.push_back(*e.renderOffscreenBGRA(1920, 1080, float(n) / 30.0f));
    const auto out = std::filesystem::temp_directory_path() / "vantry_bench_encode.mp4";
    for (auto _ : state) {
        vantry::platform::VideoWriterSettings settings;
        settings.width = 1920;
        settings.height = 1080;
        settings.fps = 30;
        settings.averageBitRate = 16'000'000;
        vantry::platform::VideoWriter writer(out, settings);
        for (int n = 0; n < 90; ++n) writer.appendBGRA(frames[std::size_t(n)].data(), 1920 * 4, n);
        writer.finish();
    }
    std::filesystem::remove(out);
}
BENCHMARK(BM_Baseline_Encode90RenderedFrames1080p)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
