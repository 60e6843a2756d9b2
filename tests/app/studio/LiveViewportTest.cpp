// The real studio window under a display (CI: Xvfb with Mesa): Qt Quick draws with
// OpenGL and the live viewport shows the studio the engine renders offscreen.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "platform/dispatch/QtMainPoster.h"
#include "tests/support/EventPump.h"
#include "tests/support/ImageDifference.h"
#include "tests/support/MadeUpPdf.h"
#include "tests/support/Wait.h"

namespace vantry::app {
namespace {

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    return x && *x;
}

struct CellMeans {
    static constexpr int kGrid = 4;
    std::array<std::array<double, 3>, kGrid * kGrid> rgb{};
};

// Mean colour of each cell of a 4 x 4 grid.
CellMeans cellMeans(const QImage& image) {
    CellMeans m;
    std::array<int, CellMeans::kGrid * CellMeans::kGrid> counts{};
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const int cy = y * CellMeans::kGrid / image.height();
        for (int x = 0; x < image.width(); ++x) {
            const int cell = cy * CellMeans::kGrid + x * CellMeans::kGrid / image.width();
            m.rgb[cell][0] += qRed(row[x]);
            m.rgb[cell][1] += qGreen(row[x]);
            m.rgb[cell][2] += qBlue(row[x]);
            ++counts[cell];
        }
    }
    for (std::size_t i = 0; i < m.rgb.size(); ++i) {
        for (double& c : m.rgb[i]) c /= std::max(1, counts[i]);
    }
    return m;
}

class LiveViewport : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!hasDisplay()) GTEST_SKIP() << "needs a display (CI runs the tests under xvfb-run)";
        // One application object per process: it stays until the process ends.
        static QGuiApplication* app = [] {
            prepareOpenGLQuick();
            static int argc = 1;
            static char name[] = "studio_live_viewport_tests";
            static char* argv[] = {name, nullptr};
            auto* a = new QGuiApplication(argc, argv);
            platform::installQtMainPoster();
            return a;
        }();
        (void)app;
        probe_ = probeOpenGL33();
        ASSERT_TRUE(probe_.ok) << "no OpenGL 3.3 core context";
        renderer_ = EngineStudioRenderer::create();
        ASSERT_TRUE(renderer_) << "the studio engine could not be created";
        host_ = std::make_unique<StudioWindowHost>(renderer_);
        ASSERT_TRUE(host_->open());
        window_ = host_->window();
        window_->resize(1180, 740);
        viewport_ = window_->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
        ASSERT_NE(viewport_, nullptr);
    }

    void TearDown() override {
        host_.reset();
        renderer_.reset();
    }

    // Runs the event loop until the viewport has drawn `frames` more frames (bounded).
    bool waitForFrames(int frames) {
        const int target = viewport_->property("framesDrawn").toInt() + frames;
        return vantry::testing::pumpUntil(
            [&] { return viewport_->property("framesDrawn").toInt() >= target; }, 90000);
    }

    // Frames the studio thread drew before the scene graph passed it the viewport's
    // new size are shown stretched. A grab runs one scene-graph sync, which hands
    // the size over; the frames after it are drawn at that size (at a still angle the
    // thread draws one and then holds it).
    void settleAtCurrentSize() {
        (void)window_->grabWindow();
        const int target = viewport_->property("framesDrawn").toInt() + 3;
        ASSERT_TRUE(vantry::testing::pumpUntil(
            [&] {
                return viewport_->property("studioHolding").toBool() ||
                       viewport_->property("framesDrawn").toInt() >= target;
            },
            90000))
            << "the live viewport drew no frames";
        // One more window frame puts the newest studio frame on screen.
        int swaps = 0;
        const auto connection = QObject::connect(
            window_, &QQuickWindow::frameSwapped, window_, [&swaps] { ++swaps; }, Qt::QueuedConnection);
        window_->update();
        vantry::testing::pumpUntil([&] { return swaps >= 2; }, 30000);
        QObject::disconnect(connection);
    }

    OpenGLProbe probe_;
    std::shared_ptr<EngineStudioRenderer> renderer_;
    std::unique_ptr<StudioWindowHost> host_;
    QQuickWindow* window_ = nullptr;
    QQuickItem* viewport_ = nullptr;
};

TEST_F(LiveViewport, WindowIsTitledAndHasItsMinimumSize) {
    EXPECT_EQ(window_->title(), "Vantry Pro");
    EXPECT_EQ(window_->minimumSize(), QSize(1180, 740));
    EXPECT_GE(window_->maximumWidth(), 16000);  // no maximum
    EXPECT_GE(window_->maximumHeight(), 16000);

    // Asked to shrink below the minimum, the window comes back to it.
    window_->resize(800, 600);
    vantry::testing::pumpUntil([&] { return window_->width() >= 1180 && window_->height() >= 740; }, 5000);
    EXPECT_GE(window_->width(), 1180);
    EXPECT_GE(window_->height(), 740);
}

TEST_F(LiveViewport, ShowsTheStudioTheEngineRendersOffscreen) {
    // A static camera angle, so the live clock does not move the picture, and a
    // landscape viewport: the live view draws a portrait surface with aspect 1, the
    // offscreen frame does not.
    host_->viewModel().setCameraAngle(BroadcastCameraAngle::screenShoulder);
    host_->viewModel().sync();
    window_->resize(1400, 740);
    vantry::testing::pumpUntil([&] { return viewport_->width() > viewport_->height(); }, 5000);
    ASSERT_GT(viewport_->width(), viewport_->height());
    settleAtCurrentSize();
    ASSERT_TRUE(quickRunsOnOpenGL(window_)) << "Qt Quick fell back from OpenGL";

    const QImage shot = window_->grabWindow().convertToFormat(QImage::Format_RGB32);
    const qreal dpr = window_->effectiveDevicePixelRatio();
    const QRectF area = viewport_->mapRectToScene(QRectF(0, 0, viewport_->width(), viewport_->height()));
    const QRect pixels(qRound(area.x() * dpr), qRound(area.y() * dpr), qRound(area.width() * dpr),
                       qRound(area.height() * dpr));
    // Leave out the badges along the top edge.
    const QRect compared = pixels.adjusted(0, qRound(60 * dpr), 0, 0);
    const QImage live = shot.copy(compared);
    ASSERT_GT(live.width(), 100);
    ASSERT_GT(live.height(), 100);

    const auto frame = renderer_->engine().renderOffscreenBGRA(pixels.width(), pixels.height(),
                                                               renderer_->engine().directorClock());
    ASSERT_TRUE(frame.has_value());
    QImage offscreenFull(frame->data(), pixels.width(), pixels.height(), pixels.width() * 4,
                         QImage::Format_ARGB32);
    const QImage offscreen =
        offscreenFull.copy(QRect(0, compared.y() - pixels.y(), compared.width(), compared.height()))
            .convertToFormat(QImage::Format_RGB32);

    int nearBlack = 0;
    for (int y = 0; y < live.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(live.constScanLine(y));
        for (int x = 0; x < live.width(); ++x)
            nearBlack += qRed(row[x]) + qGreen(row[x]) + qBlue(row[x]) < 12;
    }
    EXPECT_LT(nearBlack, live.width() * live.height() / 20) << "the viewport is mostly black";

    const CellMeans a = cellMeans(live);
    const CellMeans b = cellMeans(offscreen);
    double worst = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(a.rgb[i][c] - b.rgb[i][c]));
    }
    if (worst > 8) {
        live.save(QStringLiteral("live_viewport_actual.png"));
        shot.save(QStringLiteral("live_viewport_grab.png"));
        offscreen.save(QStringLiteral("live_viewport_expected.png"));
    }
    EXPECT_LE(worst, 8) << "live and offscreen pictures differ in broad colour (see live_viewport_*.png)";

    // Later changes of the view model neither recreate nor reconfigure the viewport.
    host_->viewModel().selectSet(BroadcastStudioSet::neonCreatorDesk);
    host_->viewModel().setShowVisionPresenter(true);
    host_->viewModel().setKeyGain(2.0f);
    ASSERT_TRUE(waitForFrames(1));
    EXPECT_EQ(window_->findChild<QQuickItem*>(QStringLiteral("stageViewport")), viewport_);
    std::printf("GL renderer: %s; largest cell difference live vs offscreen: %.1f levels\n",
                qPrintable(probe_.renderer), worst);
}

// At a still angle with nothing changing the studio thread draws nothing (the badge shows the
// display's rate); each change shows in the next frame, and a moving angle draws again.
TEST_F(LiveViewport, AStillStudioIsNotDrawnAgainUntilSomethingChanges) {
    host_->viewModel().setCameraAngle(BroadcastCameraAngle::tightHost);
    host_->viewModel().sync();
    settleAtCurrentSize();
    ASSERT_TRUE(viewport_->property("studioHolding").toBool());
    const auto counts = renderer_->engine().drawCounts();
    const int drawn = viewport_->property("framesDrawn").toInt();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(viewport_->property("framesDrawn").toInt(), drawn);
    EXPECT_EQ(renderer_->engine().drawCounts().stagePasses, counts.stagePasses);
    const double displayRate = window_->screen()->refreshRate();
    vantry::testing::pumpUntil([&] { return host_->viewModel().liveFPS() == displayRate; }, 5000);
    EXPECT_DOUBLE_EQ(host_->viewModel().liveFPS(), displayRate);

    const auto shows = [&](const char* what, const std::function<void()>& change) {
        SCOPED_TRACE(what);
        const int before = viewport_->property("framesDrawn").toInt();
        change();
        EXPECT_TRUE(vantry::testing::pumpUntil(
            [&] { return viewport_->property("framesDrawn").toInt() > before; }, 30000));
        EXPECT_TRUE(
            vantry::testing::pumpUntil([&] { return viewport_->property("studioHolding").toBool(); }, 30000));
    };
    shows("key light", [&] {
        host_->viewModel().setKeyGain(1.8f);
        host_->viewModel().sync();
    });
    shows("set", [&] { host_->viewModel().selectSet(BroadcastStudioSet::timberPodcast); });
    shows("resize", [&] { window_->resize(1300, 760); });
    const int held = viewport_->property("framesDrawn").toInt();
    host_->viewModel().setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    host_->viewModel().sync();
    EXPECT_TRUE(waitForFrames(5));
    EXPECT_FALSE(viewport_->property("studioHolding").toBool());
    EXPECT_GE(viewport_->property("framesDrawn").toInt(), held + 5);
}

// A finished studio frame reaches the viewport with the window update it asks for, a queued
// call: a grab made before that call is handled shows the frame before, one made after it shows
// the new frame. Events are held back until the studio holds its new frame, so the first grab
// comes before the call.
TEST_F(LiveViewport, AHeldFrameIsShownOnceTheUpdateItAsksForIsHandled) {
    host_->viewModel().setCameraAngle(BroadcastCameraAngle::tightHost);
    host_->viewModel().sync();
    // The window on screen first: the viewport starts with the context of the window's first frame.
    ASSERT_TRUE(
        vantry::testing::pumpUntil([&] { return viewport_->property("framesDrawn").toInt() > 0; }, 90000));
    settleAtCurrentSize();
    ASSERT_TRUE(viewport_->property("studioHolding").toBool());
    EXPECT_TRUE(viewport_->property("showsNewestFrame").toBool());
    const qreal dpr = window_->effectiveDevicePixelRatio();
    const QRectF area = viewport_->mapRectToScene(QRectF(0, 0, viewport_->width(), viewport_->height()));
    const QRect pixels(qRound(area.x() * dpr), qRound(area.y() * dpr), qRound(area.width() * dpr),
                       qRound(area.height() * dpr));
    const auto viewportPicture = [&] {
        return window_->grabWindow().convertToFormat(QImage::Format_RGB32).copy(pixels);
    };
    const QImage before = viewportPicture();

    const int drawn = viewport_->property("framesDrawn").toInt();
    host_->viewModel().setKeyGain(2.0f);
    host_->viewModel().sync();
    ASSERT_TRUE(vantry::testing::waitUntil(
        [&] {
            return viewport_->property("framesDrawn").toInt() > drawn &&
                   viewport_->property("studioHolding").toBool();
        },
        60));
    EXPECT_FALSE(viewport_->property("showsNewestFrame").toBool());
    const QImage early = viewportPicture();
    EXPECT_FALSE(viewport_->property("showsNewestFrame").toBool());
    EXPECT_LT(vantry::testing::meanDifference(early, before, early.rect()), 1.0);

    QCoreApplication::processEvents();
    const QImage shown = viewportPicture();
    EXPECT_TRUE(viewport_->property("showsNewestFrame").toBool());
    EXPECT_GT(vantry::testing::meanDifference(shown, before, shown.rect()), 2.0)
        << "the brighter key light does not show";
}

TEST_F(LiveViewport, KeepsDrawingAndReportsItsFrameRate) {
    ASSERT_TRUE(waitForFrames(2));
    QElapsedTimer clock;
    clock.start();
    const int before = viewport_->property("framesDrawn").toInt();
    ASSERT_TRUE(waitForFrames(6));
    const double seconds = clock.elapsed() / 1000.0;
    const int frames = viewport_->property("framesDrawn").toInt() - before;
    // The engine's report reaches the view model through the main thread.
    vantry::testing::pumpUntil([&] { return host_->viewModel().liveFPS() != 120.0; }, 10000);
    EXPECT_NE(host_->viewModel().liveFPS(), 120.0) << "no frame-rate report arrived";
    std::printf("live viewport %dx%d: %d frames in %.2f s (%.1f ms per frame), reported %.1f FPS, %s\n",
                viewport_->property("width").toInt(), viewport_->property("height").toInt(), frames, seconds,
                1000.0 * seconds / std::max(1, frames), host_->viewModel().liveFPS(),
                qPrintable(probe_.renderer));
}

// Forwards to the engine, but can hold the studio thread at the start of a frame.
class GatedRenderer : public EngineStudioRenderer {
  public:
    explicit GatedRenderer(std::unique_ptr<VantryMetalEngine> engine)
        : EngineStudioRenderer(std::move(engine)) {}
    void drawLiveFrame(const LiveSurface& surface) override {
        {
            std::unique_lock<std::mutex> lock(mutex);
            ++waiting;
            cv.wait(lock, [&] { return open; });
            --waiting;
        }
        EngineStudioRenderer::drawLiveFrame(surface);
    }
    void setOpen(bool value) {
        std::lock_guard<std::mutex> lock(mutex);
        open = value;
        cv.notify_all();
    }
    int waitingFrames() {
        std::lock_guard<std::mutex> lock(mutex);
        return waiting;
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool open = true;
    int waiting = 0;
};

TEST_F(LiveViewport, TheWindowKeepsDrawingWhileTheStudioFrameIsHeld) {
    host_.reset();
    auto engine = VantryMetalEngine::create();
    ASSERT_TRUE(engine);
    auto gated = std::make_shared<GatedRenderer>(std::move(engine));
    host_ = std::make_unique<StudioWindowHost>(gated);
    ASSERT_TRUE(host_->open());
    window_ = host_->window();
    viewport_ = window_->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
    ASSERT_NE(viewport_, nullptr);
    ASSERT_TRUE(waitForFrames(1));

    // Hold the studio in the middle of its next frame.
    gated->setOpen(false);
    QElapsedTimer clock;
    clock.start();
    while (gated->waitingFrames() == 0 && clock.elapsed() < 30000) QCoreApplication::processEvents();
    ASSERT_EQ(gated->waitingFrames(), 1);
    const int studioFrames = viewport_->property("framesDrawn").toInt();

    // The UI still redraws, and a slider moved meanwhile shows in its value text at once.
    int swaps = 0;
    QObject::connect(
        window_, &QQuickWindow::frameSwapped, window_, [&swaps] { ++swaps; }, Qt::QueuedConnection);
    host_->viewModel().setKeyGain(2.0f);
    auto* keyRow = window_->findChild<QQuickItem*>(QStringLiteral("keyLightRow"));
    ASSERT_NE(keyRow, nullptr);
    auto* valueText = keyRow->findChild<QQuickItem*>(QStringLiteral("valueText"));
    ASSERT_NE(valueText, nullptr);
    clock.restart();
    while (swaps < 5 && clock.elapsed() < 30000) {
        window_->update();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_GE(swaps, 5) << "the window waited for the studio frame";
    EXPECT_EQ(valueText->property("text").toString(), "2.00");
    EXPECT_EQ(viewport_->property("framesDrawn").toInt(), studioFrames);

    // Released, the studio picks up where it stopped.
    gated->setOpen(true);
    ASSERT_TRUE(waitForFrames(2));
    host_.reset();  // stops the studio thread before the renderer goes
}

// A deck in the real window: the engine names its wall after the file once the first page is
// there, and a step renders the next page onto it.
TEST_F(LiveViewport, ADeckOnTheWallIsNamedAfterItsFileAndSteps) {
    VantryViewModel& vm = host_->viewModel();
    QTemporaryDir dir;
    const std::filesystem::path deck = dir.filePath(QStringLiteral("talk.pdf")).toStdString();
    testing::writeMadeUpPdf(deck, {{QColor(220, 30, 30)}, {QColor(30, 200, 40)}});
    ASSERT_TRUE(vm.mountSlide(deck));
    EXPECT_EQ(vm.statusBannerText(), "Mounted talk.pdf onto 3D LED Wall");
    EXPECT_TRUE(vantry::testing::pumpUntil([&] { return renderer_->slideSourceName() == "talk.pdf"; }, 30000))
        << renderer_->slideSourceName();
    EXPECT_TRUE(vm.nextSlide());
    EXPECT_EQ(vm.slidePage(), 2);
    EXPECT_FALSE(vm.nextSlide());
    EXPECT_TRUE(waitForFrames(2)) << "the window keeps drawing with the deck on the wall";
}

TEST_F(LiveViewport, FileDialogsCarryThePanelsAndMountTheChosenSlide) {
    VantryViewModel& vm = host_->viewModel();
    auto* saveDialog = window_->findChild<QObject*>(QStringLiteral("saveDialog"));
    auto* openDialog = window_->findChild<QObject*>(QStringLiteral("openDialog"));
    ASSERT_NE(saveDialog, nullptr);
    ASSERT_NE(openDialog, nullptr);

    vm.selectSet(BroadcastStudioSet::keynoteArena);
    vm.exportBroadcastMP4Panel();
    QCoreApplication::processEvents();
    EXPECT_TRUE(saveDialog->property("visible").toBool());
    EXPECT_EQ(saveDialog->property("title").toString(), "Export 1080p Studio Broadcast MP4");
    EXPECT_TRUE(
        saveDialog->property("selectedFile").toUrl().toString().endsWith("/Vantry_keynote-arena_1080p.mp4"))
        << saveDialog->property("selectedFile").toUrl().toString().toStdString();
    EXPECT_EQ(saveDialog->property("nameFilters").toStringList(), QStringList{"MPEG-4 movie (*.mp4)"});
    QMetaObject::invokeMethod(saveDialog, "reject");
    QCoreApplication::processEvents();
    EXPECT_FALSE(vm.isExporting());  // cancelled: nothing starts

    QTemporaryDir dir;
    const QString slide = dir.filePath(QStringLiteral("keynote.png"));
    QImage image(96, 54, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    ASSERT_TRUE(image.save(slide));
    vm.loadSlidePanel();
    QCoreApplication::processEvents();
    EXPECT_TRUE(openDialog->property("visible").toBool());
    EXPECT_EQ(openDialog->property("title").toString(), "Select Slide or Demo Graphic for 3D LED Wall");
    EXPECT_EQ(openDialog->property("nameFilters").toStringList().value(0),
              "PNG, JPEG, HEIC, PDF or Video (*.png *.jpg *.jpeg *.heic *.pdf *.mp4 *.mov *.mkv *.webm)");
    // What the dialog hands back when the user picks the file.
    host_->panels().finishOpen(QUrl::fromLocalFile(slide));
    QMetaObject::invokeMethod(openDialog, "close");
    EXPECT_EQ(vm.slideName(), "keynote.png");
    EXPECT_EQ(vm.statusBannerText(), "Mounted keynote.png onto 3D LED Wall");
    EXPECT_EQ(renderer_->slideSourceName(), "keynote.png");
}

}  // namespace
}  // namespace vantry::app
