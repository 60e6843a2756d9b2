// Live viewport frame time in the real studio window (Qt Quick on OpenGL, threaded
// render loop) against the engine's offscreen frame of the same pixel size, the
// baseline. Needs a display: xvfb-run -a build/bench/studio-app/bench_live_viewport
#include <benchmark/benchmark.h>

#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSize>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "bench/support/BenchStudioWindow.h"
#include "bench/support/BenchSupport.h"
#include "studio/gpu/StageRenderer.h"
#include "studio/gpu/VantryMetalEngine.h"

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

// The window at 1440 x 900 at a moving angle (the wide desk) for 5 s, with Qt Quick asked to
// redraw after every frame it shows (as while a slider moves): the studio view's frames a second
// and the window's, with the stage drawn as it was drawn before (passes: 0, one program over
// the whole set after the sky, the way the other passes are checked against) and as it is drawn
// now (1: the default passes), in the same run; and at a still angle (moving: 0, the screen
// shoulder), where the studio holds its frame: the window's own rate on this machine. paced: 1
// asks for a redraw 60 times a second, as a display's vsync would (Xvfb has none), so that
// window_fps near 60 means the window kept the display's rate.
void BM_WindowAtAMovingAngle(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
        return;
    }
    const unsigned passesBefore = vantry::studio::gl::StageRenderer::passFlags();
    vantry::studio::gl::StageRenderer::setPassFlags(
        state.range(0) != 0 ? unsigned(vantry::studio::gl::StageRenderer::kDefaultPasses) : 0u);
    QQuickWindow* window = s->host->window();
    const QSize sizeBefore = window->size();
    const auto angleBefore = s->host->viewModel().cameraAngle();
    window->resize(1440, 900);
    s->host->viewModel().setCameraAngle(state.range(1) != 0 ? vantry::BroadcastCameraAngle::wideDesk
                                                            : vantry::BroadcastCameraAngle::screenShoulder);
    s->host->viewModel().sync();
    s->waitFrames(3);
    // paced: a display's 60 Hz (a redraw asked for every 1/60 s, as vsync would); otherwise a
    // redraw after every frame shown, as fast as the window can.
    const bool paced = state.range(2) != 0;
    int swaps = 0;
    const auto connection = QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [&swaps, window, paced] {
            ++swaps;
            if (!paced) window->update();
        },
        Qt::QueuedConnection);
    QTimer display;
    display.setTimerType(Qt::PreciseTimer);
    QObject::connect(&display, &QTimer::timeout, window, [window] { window->update(); });
    if (paced) display.start(1000 / 60);
    constexpr int kMilliseconds = 5000;
    for (auto _ : state) {
        const int framesBefore = s->frames();
        const int swapsBefore = swaps;
        window->update();
        QEventLoop loop;
        QTimer::singleShot(kMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["studio_fps"] = (s->frames() - framesBefore) / (kMilliseconds / 1000.0);
        state.counters["window_fps"] = (swaps - swapsBefore) / (kMilliseconds / 1000.0);
    }
    QObject::disconnect(connection);
    display.stop();
    state.SetLabel(s->glRenderer.toStdString() + ", studio view " +
                   std::to_string(int(s->viewport->width())) + "x" +
                   std::to_string(int(s->viewport->height())));
    window->resize(sizeBefore);
    s->host->viewModel().setCameraAngle(angleBefore);
    s->host->viewModel().sync();
    vantry::studio::gl::StageRenderer::setPassFlags(passesBefore);
    s->waitFrames(3);
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

// The window left alone for 5 s at a still angle (screen shoulder) while the wall shows a live
// source: 30 new pictures a second (alternating 1280 x 720 pictures, as from a video), against
// a still wall (the baseline) in the same run; live 2 loads the set again with each picture, so
// that every frame is drawn in full, as without the wall pass. Counters: studio frames a second (the live
// view's frame rate) and processor seconds a second of the whole process.
void BM_WindowWithLiveWall(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
        return;
    }
    const bool live = state.range(0) != 0;
    const bool fullRedraw = state.range(0) == 2;
    vantry::VantryMetalEngine& engine = s->renderer->engine();
    const vantry::BroadcastCameraAngle before = engine.cameraAngle();
    s->host->viewModel().setCameraAngle(vantry::BroadcastCameraAngle::screenShoulder);
    s->host->viewModel().sync();
    QImage pictures[2];
    for (int n = 0; n < 2; ++n) {
        pictures[n] = QImage(1280, 720, QImage::Format_ARGB32_Premultiplied);
        pictures[n].fill(n == 0 ? QColor(40, 120, 220) : QColor(230, 160, 40));
    }
    engine.showLEDWallPicture(pictures[0], "Video");
    s->waitFrames(1);
    constexpr int kMilliseconds = 5000;
    for (auto _ : state) {
        std::atomic<bool> on{live};
        std::thread source([&] {
            auto next = std::chrono::steady_clock::now();
            for (int n = 1; on; ++n) {
                engine.showLEDWallPicture(pictures[n % 2], "Video");
                if (fullRedraw) engine.loadSet(vantry::BroadcastStudioSet::manhattanLoft);
                next += std::chrono::microseconds(33'333);
                std::this_thread::sleep_until(next);
            }
        });
        const int framesBefore = s->frames();
        const auto draws0 = engine.drawCounts();
        const double cpu0 = vantry::bench::cpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(kMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = vantry::bench::cpuSeconds() - cpu0;
        const auto draws = engine.drawCounts();
        on = false;
        source.join();
        state.counters["wall_passes_per_s"] =
            (draws.wallPasses - draws0.wallPasses) / (kMilliseconds / 1000.0);
        state.counters["stage_passes_per_s"] =
            (draws.stagePasses - draws0.stagePasses) / (kMilliseconds / 1000.0);
        state.counters["studio_fps"] = (s->frames() - framesBefore) / (kMilliseconds / 1000.0);
        state.counters["cpu_s_per_s"] = cpu / (kMilliseconds / 1000.0);
    }
    engine.showBuiltInWall();
    s->host->viewModel().setCameraAngle(before);  // the benchmarks after it expect the angle they found
    s->host->viewModel().sync();
    state.SetLabel(s->glRenderer.toStdString());
}

BENCHMARK(BM_WindowWithLiveWall)
    ->ArgName("live")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WindowCpuWhileNothingHappens)
    ->ArgName("moving")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WindowAtAMovingAngle)
    ->ArgNames({"passes", "moving", "paced"})
    ->Args({0, 1, 0})
    ->Args({1, 1, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 1})
    ->Args({1, 1, 1})
    ->Args({1, 0, 1})
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
