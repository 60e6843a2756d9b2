// The presenter in the program picture at 1280 x 720, per frame, with a new 640 x 480 camera
// picture every frame: standing in the set (uploaded as a texture and drawn as a relit quad in
// the studio pass) against floating (the facecam window painted over the read-back frame),
// with the studio frame alone as the baseline, all in the same run, at a moving and a still angle
// (where the studio alone is the same picture every frame and is drawn once).
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <memory>

#include "app/program-feed/ProgramFeed.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

vantry::VantryMetalEngine* engine() {
    static std::unique_ptr<vantry::VantryMetalEngine> e = vantry::VantryMetalEngine::create();
    return e.get();
}

// A cut-out-like camera picture: an opaque figure on a transparent background.
QImage cutoutPicture(int shade) {
    QImage picture(640, 480, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(200, 120 + shade % 60, 90));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(250, 60, 140, 170));
    p.drawRoundedRect(QRectF(170, 220, 300, 300), 80, 80);
    return picture;
}

// state.range(0): the camera angle (0: the wide desk, which moves; 1: the screen shoulder, still).
void run(benchmark::State& state, int mode) {
    auto* e = engine();
    if (!e) {
        state.SkipWithError("no GL context");
        return;
    }
    e->setCameraAngle(*vantry::BroadcastCameraAngle::fromRawValue(int(state.range(0))));
    const QImage pictures[2] = {cutoutPicture(0), cutoutPicture(30)};
    vantry::app::feed::ProgramPresenter floating;
    floating.visible = true;
    floating.look.viewportWidth = vantry::app::feed::kReferenceViewportWidth;
    floating.look.viewportHeight = vantry::app::feed::kReferenceViewportHeight;
    e->setInSetPresenter(QImage());
    int n = 0;
    for (auto _ : state) {
        const QImage& camera = pictures[n++ & 1];
        if (mode == 2) e->setInSetPresenter(camera);
        // The moving angle moves: every frame at its own time.
        const float t = state.range(0) == 0 ? 1.0f + float(n) / 30.0f : 1.0f;
        QImage frame = e->renderOffscreenCGImage(kWidth, kHeight, t);
        if (mode == 1) {
            floating.picture = camera;
            vantry::app::feed::composePresenter(frame, floating);
        }
        benchmark::DoNotOptimize(frame.constBits());
    }
    e->setInSetPresenter(QImage());
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(e->deviceName());
}

void BM_Baseline_StudioAlone(benchmark::State& state) {
    run(state, 0);
}
void BM_PresenterFloating(benchmark::State& state) {
    run(state, 1);
}
void BM_PresenterInSet(benchmark::State& state) {
    run(state, 2);
}
BENCHMARK(BM_Baseline_StudioAlone)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_PresenterFloating)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PresenterInSet)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
