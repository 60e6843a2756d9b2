// Live viewport frame time in the real studio window (Qt Quick on OpenGL, threaded
// render loop) against the engine's offscreen frame of the same pixel size, the
// baseline. Needs a display: xvfb-run -a build/bench/studio-app/bench_live_viewport
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "bench/support/BenchStudioWindow.h"
#include "bench/support/BenchSupport.h"

namespace {

using Studio = vantry::bench::BenchStudioWindow;

Studio* studio() {
    return &vantry::bench::benchStudioWindow("bench_live_viewport");
}

// One live frame of the viewport at the window's minimum size.
void BM_LiveViewportFrame(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
        return;
    }
    for (auto _ : state) {
        if (!s->waitFrames(1)) {
            state.SkipWithError("the viewport stopped drawing");
            return;
        }
    }
    state.SetLabel(s->glRenderer.toStdString() + ", " + std::to_string(int(s->viewport->width())) + "x" +
                   std::to_string(int(s->viewport->height())));
}

// Baseline: the engine's offscreen frame (4x multisampled, resolved, read back) at the viewport's size.
void BM_OffscreenFrameSameSize(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
        return;
    }
    const int w = int(s->viewport->width() * s->host->window()->effectiveDevicePixelRatio());
    const int h = int(s->viewport->height() * s->host->window()->effectiveDevicePixelRatio());
    for (auto _ : state) {
        auto frame = s->renderer->engine().renderOffscreenBGRA(w, h, 1.0f);
        benchmark::DoNotOptimize(frame);
    }
    state.SetLabel(std::to_string(w) + "x" + std::to_string(h));
}

// One frame of the window (Qt Quick kept redrawing, as while a slider moves) while the
// studio keeps rendering on its own thread; compare with BM_LiveViewportFrame, the
// studio's own frame time in the same run. The counter is the studio frames per second
// during the run.
void BM_WindowFrameWhileStudioDraws(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
        return;
    }
    QQuickWindow* window = s->host->window();
    int swaps = 0;
    const auto connection = QObject::connect(
        window, &QQuickWindow::frameSwapped, window, [&swaps] { ++swaps; }, Qt::QueuedConnection);
    const int studioBefore = s->frames();
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        const int target = swaps + 1;
        window->update();
        while (swaps < target) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    const double seconds = clock.elapsed() / 1000.0;
    QObject::disconnect(connection);
    state.counters["studioFPS"] = (s->frames() - studioBefore) / std::max(seconds, 1e-3);
    state.SetLabel(s->glRenderer.toStdString());
}

// The window left alone for 10 s: processor seconds per second of the whole process (Qt Quick,
// the studio thread, the GL rasterizer's threads) at a still angle (the studio holds its
// frame and sleeps) against a moving one (the baseline: the studio draws continuously).
void BM_WindowCpuWhileNothingHappens(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
        return;
    }
    const bool moving = state.range(0) != 0;
    s->host->viewModel().setCameraAngle(moving ? vantry::BroadcastCameraAngle::sweepingCrane
                                               : vantry::BroadcastCameraAngle::tightHost);
    s->host->viewModel().sync();
    s->waitFrames(1);
    constexpr int kMilliseconds = 10000;
    for (auto _ : state) {
        const int framesBefore = s->frames();
        const double cpu0 = vantry::bench::cpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(kMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = vantry::bench::cpuSeconds() - cpu0;
        state.counters["cpu_s_per_s"] = cpu / (kMilliseconds / 1000.0);
        state.counters["studio_frames"] = s->frames() - framesBefore;
        state.counters["badge_fps"] = s->host->viewModel().liveFPS();
    }
    state.SetLabel(s->glRenderer.toStdString());
}

BENCHMARK(BM_WindowCpuWhileNothingHappens)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_OffscreenFrameSameSize)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_LiveViewportFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_WindowFrameWhileStudioDraws)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Window, then engine, then the application object, before static teardown.
    studio()->close();
    return 0;
}
