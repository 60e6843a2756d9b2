// The presenter ("Vision Cutout") with a photograph played as the camera:
//  - the per-frame presenter path: segmentation and compositing of a 512 x 512 camera frame,
//    painting the facecam window (crop, shape clip, outline, shadow) and uploading it as a
//    texture, against copying the camera frame once (the baseline);
//  - the live frame rate of the studio window with the presenter off (0), floating over the
//    picture (1) and standing in the set (2), in the same run.
// Needs a display: xvfb-run -a build/bench/studio-app/bench_presenter
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QQuickItem>
#include <QQuickWindow>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <opencv2/core.hpp>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "bench/support/BenchStudioWindow.h"
#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "creator/studio-overlay/qml/FacecamPictureItem.h"
#include "platform/camera/CameraBackend.h"
#include "platform/segmentation/PersonSegmenter.h"

namespace {

const char* kPortrait = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";

using Studio = vantry::bench::BenchStudioWindow;

// The window plays the photograph as its camera.
Studio* studio() {
    return &vantry::bench::benchStudioWindow("bench_presenter",
                                             [] { vantry::platform::setDefaultCameraFile(kPortrait); });
}

QObject* presenterController(const Studio& s) {
    QObject* overlay = s.host->window()->findChild<QObject*>(QStringLiteral("creatorStudioOverlay"));
    return overlay ? overlay->property("studio").value<QObject*>() : nullptr;
}

cv::Mat portraitFrame() {
    static const cv::Mat frame = [] {
        QImage image(kPortrait);
        image = image.convertToFormat(QImage::Format_ARGB32);
        return cv::Mat(image.height(), image.width(), CV_8UC4, image.bits(), image.bytesPerLine()).clone();
    }();
    return frame;
}

// Baseline: one copy of the camera frame.
void BM_CopyCameraFrame(benchmark::State& state) {
    const cv::Mat frame = portraitFrame();
    cv::Mat copy(frame.size(), frame.type());
    for (auto _ : state) {
        std::memcpy(copy.data, frame.data, frame.total() * frame.elemSize());
        benchmark::DoNotOptimize(copy.data);
    }
}

// Segmentation and compositing (the feed's work for one frame).
void BM_SegmentAndComposite(benchmark::State& state) {
    if (!std::filesystem::exists(
            vantry::platform::segmentationModelPath(vantry::platform::SegmentationModel::general))) {
        state.SkipWithError("no segmentation model");
        return;
    }
    vantry::platform::OnnxPersonSegmenter segmenter(vantry::platform::SegmentationModel::general);
    vantry::creator::FacecamFrameProcessor processor;
    processor.setSegmenter(&segmenter);
    const cv::Mat frame = portraitFrame();
    for (auto _ : state) {
        QImage out = processor.process(frame, {});
        benchmark::DoNotOptimize(out.constBits());
    }
}

// Painting the facecam window (what the picture item does on the render thread).
void BM_PaintFacecamWindow(benchmark::State& state) {
    const cv::Mat frame = portraitFrame();
    const QImage camera(frame.data, frame.cols, frame.rows, int(frame.step[0]),
                        QImage::Format_ARGB32_Premultiplied);
    vantry::creator::qml::FacecamPictureItem item;
    const qreal m = vantry::creator::qml::FacecamPictureItem::kShadowMargin;
    item.setSize(QSizeF(176 + 2 * m, 132 + 2 * m));
    item.setImage(camera);
    item.setShape(QStringLiteral("Rounded"));
    item.setBorderWidth(2);
    item.setBorderColor(Qt::white);
    QImage target(item.size().toSize(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        target.fill(Qt::transparent);
        QPainter p(&target);
        item.paint(&p);
    }
}

// Uploading the painted window to a texture (glTexSubImage2D and a finish).
void BM_UploadFacecamWindow(benchmark::State& state) {
    QOpenGLContext context;
    QOffscreenSurface surface;
    if (!context.create()) {
        state.SkipWithError("no OpenGL context");
        return;
    }
    surface.setFormat(context.format());
    surface.create();
    if (!context.makeCurrent(&surface)) {
        state.SkipWithError("no OpenGL context");
        return;
    }
    QOpenGLFunctions* gl = context.functions();
    const int w = 208, h = 164;
    QImage painted(w, h, QImage::Format_RGBA8888_Premultiplied);
    painted.fill(QColor(120, 80, 40, 200));
    GLuint texture = 0;
    gl->glGenTextures(1, &texture);
    gl->glBindTexture(GL_TEXTURE_2D, texture);
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    for (auto _ : state) {
        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, painted.constBits());
        gl->glFinish();
    }
    gl->glDeleteTextures(1, &texture);
    context.doneCurrent();
}

// One live frame of the studio window (1180 x 740): no presenter, floating, standing in the set.
void BM_LiveWindowFrame(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) {
        state.SkipWithError("needs a display and OpenGL 3.3 (xvfb-run works)");
        return;
    }
    const bool presenter = state.range(0) != 0;
    s->host->viewModel().choosePresenterInSet(state.range(0) == 2, false);
    s->host->viewModel().setShowVisionPresenter(presenter);
    if (presenter) {
        QObject* controller = presenterController(*s);
        if (!controller) {
            state.SkipWithError("no presenter overlay");
            return;
        }
        QMetaObject::invokeMethod(controller, "toggleCamera");
        QElapsedTimer wait;
        wait.start();
        while (!controller->property("hasCameraFrame").toBool() && wait.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    s->waitFrames(3);
    QElapsedTimer clock;
    clock.start();
    const int first = s->frames();
    for (auto _ : state) s->waitFrames(1);
    const double seconds = clock.nsecsElapsed() / 1e9;
    state.counters["fps"] = (s->frames() - first) / seconds;
    state.SetLabel(s->glRenderer.toStdString());
    s->host->viewModel().setShowVisionPresenter(false);
    s->host->viewModel().choosePresenterInSet(false, false);
}

BENCHMARK(BM_CopyCameraFrame);
BENCHMARK(BM_SegmentAndComposite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFacecamWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UploadFacecamWindow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LiveWindowFrame)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    studio();  // the application object first: the upload benchmark needs it too
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The window, the presenter and its camera thread go before the process ends.
    studio()->close();
    vantry::platform::setDefaultCameraFile({});
    return 0;
}
