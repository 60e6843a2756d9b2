// Studio renderer speed: offscreen 1920x1080 frames (render + resolve + read-back), 720p
// frames of the landscape and the vertical canvas, one live
// frame at 1180x740, a live view and a program feed of one moving angle, and a 90-frame
// 1920x1080 export against encoding the same 90 frames, already rendered, with the same writer
// settings. The argument `moving` picks the angle: 0 a still one (screen shoulder: its frames
// are drawn once and reused), 1 a moving one (wide desk: every frame is drawn).
// Baselines in the same run: a frame that only clears, resolves and reads back (for the
// offscreen and live frames), the encode-only run (for the export), and a feed of another size
// than the live view (for the two together), and a still wall for frames with a new wall picture.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
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
        const double cpu0 = vantry::bench::cpuSeconds();
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
        state.counters["cpu_ms_per_frame"] = 1000.0 * (vantry::bench::cpuSeconds() - cpu0) /
                                             double(std::max<std::int64_t>(1, state.iterations()));
    }
    context->doneCurrent();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Baseline_ClearResolve)
    ->Args({1920, 1080, 1})
    ->Args({1280, 720, 1})
    ->Args({1920, 1080, 0})
    ->Args({1180, 740, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

void BM_OffscreenFrame1080p(benchmark::State& state) {
    auto& e = engineAt(state.range(0) != 0);
    float t = 0;
    const double cpu0 = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        auto px = e.renderOffscreenBGRA(1920, 1080, t);
        benchmark::DoNotOptimize(px);
        t += 1.0f / 30.0f;
    }
    state.counters["cpu_ms_per_frame"] =
        1000.0 * (vantry::bench::cpuSeconds() - cpu0) / double(std::max<std::int64_t>(1, state.iterations()));
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OffscreenFrame1080p)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Offscreen frames of each canvas at 720p: `canvas` 0 the landscape 1280x720 frame, 1 the
// vertical 720x1280 one (its own lens), 2 one of each in turn per iteration (the two feeds at
// once; each canvas keeps its own frame); `moving` as above. Counters: processor milliseconds
// and stage passes per frame.
void BM_OffscreenFrame720pCanvas(benchmark::State& state) {
    const int canvas = int(state.range(0));
    auto& e = engineAt(state.range(1) != 0);
    const auto before = e.drawCounts().stagePasses;
    float t = 0;
    std::int64_t frames = 0;
    const double cpu0 = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        if (canvas != 1) {
            benchmark::DoNotOptimize(e.renderOffscreenBGRA(1280, 720, t));
            ++frames;
        }
        if (canvas != 0) {
            benchmark::DoNotOptimize(e.renderOffscreenBGRA(720, 1280, t, vantry::ProgramCanvas::vertical));
            ++frames;
        }
        t += 1.0f / 30.0f;
    }
    frames = std::max<std::int64_t>(frames, 1);
    state.counters["cpu_ms_per_frame"] = 1000.0 * (vantry::bench::cpuSeconds() - cpu0) / double(frames);
    state.counters["stage_passes_per_frame"] = double(e.drawCounts().stagePasses - before) / double(frames);
}
BENCHMARK(BM_OffscreenFrame720pCanvas)
    ->ArgNames({"canvas", "moving"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// The moving angle's 1920x1080 frame by each way of drawing the stage (StageRenderer's pass
// flags): `passes` 0 is the single program in set order, the others as named there, in the same
// run for a fair ratio on a shared machine.
void BM_OffscreenFrame1080pPasses(benchmark::State& state) {
    auto& e = engineAt(true);
    vantry::studio::gl::StageRenderer::setPassFlags(unsigned(state.range(0)));
    float t = 0;
    const double cpu0 = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        auto px = e.renderOffscreenBGRA(1920, 1080, t);
        benchmark::DoNotOptimize(px);
        t += 1.0f / 30.0f;
    }
    state.counters["cpu_ms_per_frame"] =
        1000.0 * (vantry::bench::cpuSeconds() - cpu0) / double(std::max<std::int64_t>(1, state.iterations()));
    vantry::studio::gl::StageRenderer::setPassFlags(vantry::studio::gl::StageRenderer::kDefaultPasses);
    state.SetLabel(e.deviceName());
}
BENCHMARK(BM_OffscreenFrame1080pPasses)
    ->ArgName("passes")
    ->Arg(0)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind |
          vantry::studio::gl::StageRenderer::kDepthFirst)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind |
          vantry::studio::gl::StageRenderer::kNearFirst | vantry::studio::gl::StageRenderer::kEarlyDepthTest)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind |
          vantry::studio::gl::StageRenderer::kDepthFirst | vantry::studio::gl::StageRenderer::kSkipHidden)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind |
          vantry::studio::gl::StageRenderer::kDepthFirst | vantry::studio::gl::StageRenderer::kSkipHidden |
          vantry::studio::gl::StageRenderer::kSkyInGaps)
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses & ~vantry::studio::gl::StageRenderer::kSkyInGaps)
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses &
          ~vantry::studio::gl::StageRenderer::kSkipCovered)
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Where the moving angle's 1920x1080 frame spends its time, by part of the stage pass
// (StageRenderer::setDrawProfile: each draw waited for before and after). Counters per part:
// <part>_ms (milliseconds a frame) and <part>_spp (samples that pass the depth test per pixel; a
// pixel has 4; "covered" parts: the samples each material's triangles cover, hidden or not);
// frame_ms is the whole profiled frame, rest_ms what lies outside the draws (clear, resolve,
// read-back, uploads). `passes` as for BM_OffscreenFrame1080pPasses.
double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void BM_MovingFrameProfile1080p(benchmark::State& state) {
    using vantry::studio::gl::StageRenderer;
    auto& e = engineAt(true);
    StageRenderer::setPassFlags(unsigned(state.range(0)));
    std::vector<StageRenderer::DrawProfile> profile;
    float t = 0;
    benchmark::DoNotOptimize(e.renderOffscreenBGRA(1920, 1080, t));
    StageRenderer::setDrawProfile(&profile);
    double frameSeconds = 0;
    for (auto _ : state) {
        t += 1.0f / 30.0f;
        const double start = seconds();
        auto px = e.renderOffscreenBGRA(1920, 1080, t);
        frameSeconds += seconds() - start;
        benchmark::DoNotOptimize(px);
    }
    StageRenderer::setDrawProfile(nullptr);
    StageRenderer::setPassFlags(StageRenderer::kDefaultPasses);
    const double frames = double(std::max<std::int64_t>(1, state.iterations()));
    const double pixels = 1920.0 * 1080.0 * frames;
    double drawn = 0;
    for (const auto& d : profile) {
        std::string name = d.part;
        std::replace(name.begin(), name.end(), ' ', '_');
        if (d.seconds > 0) state.counters[name + "_ms"] = 1000.0 * d.seconds / frames;
        state.counters[name + "_spp"] = double(d.samples) / pixels;
        drawn += d.seconds;
    }
    state.counters["frame_ms"] = 1000.0 * frameSeconds / frames;
    state.counters["rest_ms"] = 1000.0 * (frameSeconds - drawn) / frames;
    state.SetLabel(e.deviceName());
}
BENCHMARK(BM_MovingFrameProfile1080p)
    ->ArgName("passes")
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind |
          vantry::studio::gl::StageRenderer::kDepthFirst)
    ->Arg(vantry::studio::gl::StageRenderer::kByMaterial | vantry::studio::gl::StageRenderer::kSkyBehind |
          vantry::studio::gl::StageRenderer::kDepthFirst | vantry::studio::gl::StageRenderer::kSkipHidden |
          vantry::studio::gl::StageRenderer::kSkyInGaps)
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses &
          ~vantry::studio::gl::StageRenderer::kSkipCovered)
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Two plain wall pictures at the live sources' size and format, to show in turn.
std::vector<QImage> twoWallPictures() {
    std::vector<QImage> pictures;
    for (int n = 0; n < 2; ++n) {
        QImage picture(1280, 720, QImage::Format_ARGB32_Premultiplied);
        picture.fill(n == 0 ? QColor(40, 120, 220) : QColor(230, 160, 40));
        pictures.push_back(picture);
    }
    return pictures;
}

// Offscreen 1280x720 frames at a still angle (screen shoulder) while the wall's picture changes
// with every frame (alternating live pictures, 1280 x 720 premultiplied ARGB32). Argument
// `wall`: 0 the picture stays (frames reused, the baseline), 1 a new picture each frame (the
// wall pass), 2 a new picture and the set loaded again each frame (drawn in full, as without
// the wall pass). Counter: processor milliseconds a frame (the machine is shared: wall time
// follows the load).
void BM_OffscreenFrame720pWithLiveWall(benchmark::State& state) {
    const int mode = int(state.range(0));
    auto& e = engineAt(false);
    const std::vector<QImage> pictures = twoWallPictures();
    e.showLEDWallPicture(pictures[0], "Video");
    float t = 0;
    int n = 0;
    const double cpu0 = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        if (mode != 0) e.showLEDWallPicture(pictures[std::size_t(++n % 2)], "Video");
        if (mode == 2) e.loadSet(vantry::BroadcastStudioSet::manhattanLoft);
        auto px = e.renderOffscreenBGRA(1280, 720, t);
        benchmark::DoNotOptimize(px);
        t += 1.0f / 30.0f;
    }
    const double cpu = vantry::bench::cpuSeconds() - cpu0;
    e.showBuiltInWall();
    state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / double(std::max<std::int64_t>(1, state.iterations()));
    state.SetLabel(e.deviceName());
}
BENCHMARK(BM_OffscreenFrame720pWithLiveWall)
    ->ArgName("wall")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Where a 1280x720 offscreen frame at a still angle (screen shoulder) spends its time when only
// the wall's picture changed (a new 1280x720 picture each frame: the wall pass), by step and
// part (StageRenderer::setDrawProfile), counters as for BM_MovingFrameProfile1080p, spp per
// pixel of the whole frame, cpu_ms_per_frame the process's processor time (the wall's pictures
// shown included). `passes` as for BM_OffscreenFrame1080pPasses.
void BM_LiveWallProfile720p(benchmark::State& state) {
    using vantry::studio::gl::StageRenderer;
    auto& e = engineAt(false);
    StageRenderer::setPassFlags(unsigned(state.range(0)));
    const std::vector<QImage> pictures = twoWallPictures();
    e.showLEDWallPicture(pictures[0], "Video");
    benchmark::DoNotOptimize(e.renderOffscreenBGRA(1280, 720, 0.0f));
    std::vector<StageRenderer::DrawProfile> profile;
    StageRenderer::setDrawProfile(&profile);
    double frameSeconds = 0;
    int n = 0;
    const double cpu0 = vantry::bench::cpuSeconds();
    for (auto _ : state) {
        e.showLEDWallPicture(pictures[std::size_t(++n % 2)], "Video");
        const double start = seconds();
        auto px = e.renderOffscreenBGRA(1280, 720, 0.0f);
        frameSeconds += seconds() - start;
        benchmark::DoNotOptimize(px);
    }
    const double cpu = vantry::bench::cpuSeconds() - cpu0;
    StageRenderer::setDrawProfile(nullptr);
    StageRenderer::setPassFlags(StageRenderer::kDefaultPasses);
    e.showBuiltInWall();
    const double frames = double(std::max<std::int64_t>(1, state.iterations()));
    const double pixels = 1280.0 * 720.0 * frames;
    double drawn = 0;
    for (const auto& d : profile) {
        std::string name = d.part;
        std::replace(name.begin(), name.end(), ' ', '_');
        if (d.seconds > 0) state.counters[name + "_ms"] = 1000.0 * d.seconds / frames;
        if (d.samples > 0) state.counters[name + "_spp"] = double(d.samples) / pixels;
        drawn += d.seconds;
    }
    state.counters["frame_ms"] = 1000.0 * frameSeconds / frames;
    state.counters["rest_ms"] = 1000.0 * (frameSeconds - drawn) / frames;
    state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / frames;
    state.SetLabel(e.deviceName());
}
BENCHMARK(BM_LiveWallProfile720p)
    ->ArgName("passes")
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses &
          ~vantry::studio::gl::StageRenderer::kWallWinnersOnly)
    ->Arg(vantry::studio::gl::StageRenderer::kDefaultPasses)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// A caller's GL context and framebuffer that live frames are drawn into.
class LiveTarget {
  public:
    LiveTarget(int width, int height) : context_(vantry::platform::gl::EglOffscreenContext::create()) {
        if (!context_ || !context_->makeCurrent()) {
            context_.reset();
            return;
        }
        glGenRenderbuffers(1, &rb_);
        glBindRenderbuffer(GL_RENDERBUFFER, rb_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
        glGenFramebuffers(1, &fbo_);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb_);
        surface_.width = width;
        surface_.height = height;
        surface_.framebuffer = fbo_;
        surface_.contextKey = context_.get();
    }
    ~LiveTarget() {
        if (!context_) return;
        vantry::bench::sharedEngine().releaseContextResources(context_.get());
        glDeleteFramebuffers(1, &fbo_);
        glDeleteRenderbuffers(1, &rb_);
        context_->doneCurrent();
    }
    bool ok() const { return context_ != nullptr; }
    const vantry::StageRenderSurface& surface() const { return surface_; }

  private:
    std::unique_ptr<vantry::platform::gl::EglOffscreenContext> context_;
    GLuint rb_ = 0;
    GLuint fbo_ = 0;
    vantry::StageRenderSurface surface_;
};

// One live frame at 1180x740 into a caller's framebuffer, waited for with glFinish.
void BM_LiveFrame1180x740(benchmark::State& state) {
    auto& e = engineAt(true);
    LiveTarget live(1180, 740);
    if (!live.ok()) {
        state.SkipWithError("no GL context");
        return;
    }
    for (auto _ : state) {
        e.drawInSurface(live.surface());
        glFinish();
    }
}

BENCHMARK(BM_LiveFrame1180x740)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// A moving angle shown in a 1280x720 live view and sent as a program feed at the live clock:
// each time step is a live frame and the feed's frame. Argument `sameSize`: 1 a 1280x720 feed,
// which takes the live view's frames; 0 a 1280x718 feed, which draws its own (the baseline).
// Counter stage_passes: passes drawn per time step.
void BM_LiveViewAndFeed720p(benchmark::State& state) {
    auto& e = engineAt(true);
    LiveTarget live(1280, 720);
    if (!live.ok()) {
        state.SkipWithError("no GL context");
        return;
    }
    const int feedHeight = state.range(0) != 0 ? 720 : 718;
    const auto before = e.drawCounts().stagePasses;
    for (auto _ : state) {
        e.drawInSurface(live.surface());
        glFinish();
        benchmark::DoNotOptimize(e.renderOffscreenBGRA(1280, feedHeight, std::nullopt));
    }
    state.counters["stage_passes"] =
        double(e.drawCounts().stagePasses - before) / double(std::max<std::int64_t>(state.iterations(), 1));
}

BENCHMARK(BM_LiveViewAndFeed720p)
    ->ArgName("sameSize")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

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
