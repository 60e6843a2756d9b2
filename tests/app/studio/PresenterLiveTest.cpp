// "Vision Cutout" in the real window under a display (CI: Xvfb with Mesa), with a photograph
// played as the camera: inside the facecam window the person shows where the segmentation says
// person and the studio where it says background; switched off, only the studio is left.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>
#include <QtMath>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "creator/studio-overlay/qml/FacecamPictureItem.h"
#include "platform/camera/CameraBackend.h"
#include "platform/dispatch/QtMainPoster.h"
#include "platform/segmentation/PersonSegmenter.h"
#include "tests/support/EventPump.h"

namespace vantry::app {
namespace {

const char* kPortrait = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    return x && *x;
}

using vantry::testing::pumpUntil;

class PresenterLive : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!hasDisplay()) GTEST_SKIP() << "needs a display (CI runs the tests under xvfb-run)";
        // scripts/install-deps brings both: python3-skimage's astronaut and the segmentation model.
        ASSERT_TRUE(std::filesystem::exists(kPortrait)) << "needs python3-skimage's astronaut picture";
        ASSERT_TRUE(
            std::filesystem::exists(platform::segmentationModelPath(platform::SegmentationModel::general)))
            << "needs the segmentation model (scripts/fetch-segmentation-model)";
        static QGuiApplication* app = [] {
            prepareOpenGLQuick();
            static int argc = 1;
            static char name[] = "studio_presenter_live_tests";
            static char* argv[] = {name, nullptr};
            auto* a = new QGuiApplication(argc, argv);
            platform::installQtMainPoster();
            return a;
        }();
        (void)app;
        platform::setDefaultCameraFile(kPortrait);
        ASSERT_TRUE(probeOpenGL33().ok) << "no OpenGL 3.3 core context";
        renderer_ = EngineStudioRenderer::create();
        ASSERT_TRUE(renderer_);
        host_ = std::make_unique<StudioWindowHost>(renderer_);
        ASSERT_TRUE(host_->open());
        window_ = host_->window();
        window_->resize(1400, 800);
        // A camera angle that does not move, so two grabs of the studio agree.
        host_->viewModel().setCameraAngle(BroadcastCameraAngle::screenShoulder);
        host_->viewModel().sync();
        viewport_ = window_->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
        ASSERT_NE(viewport_, nullptr);
        // One grab hands the resized viewport's size to the studio thread; frames
        // drawn after it are at that size rather than stretched from the old one.
        (void)window_->grabWindow();
        ASSERT_TRUE(waitForFrames(3));
    }

    void TearDown() override {
        host_.reset();
        renderer_.reset();
        platform::setDefaultCameraFile({});
    }

    // Runs the event loop until the studio thread has drawn `frames` more frames or, at this
    // still angle, holds its current frame; then one more window frame puts it on screen.
    bool waitForFrames(int frames) {
        const int target = viewport_->property("framesDrawn").toInt() + frames;
        const bool settled = pumpUntil(
            [&] {
                return viewport_->property("studioHolding").toBool() ||
                       viewport_->property("framesDrawn").toInt() >= target;
            },
            90000);
        int swaps = 0;
        const auto connection = QObject::connect(
            window_, &QQuickWindow::frameSwapped, window_, [&swaps] { ++swaps; }, Qt::QueuedConnection);
        window_->update();
        pumpUntil([&] { return swaps >= 2; }, 30000);
        QObject::disconnect(connection);
        return settled;
    }

    QObject* overlay() const { return window_->findChild<QObject*>(QStringLiteral("creatorStudioOverlay")); }

    QImage grab() const { return window_->grabWindow().convertToFormat(QImage::Format_RGB32); }

    // The facecam window's rectangle in window pixels.
    QRect facecamPixels() const {
        auto* w = window_->findChild<QQuickItem*>(QStringLiteral("facecamWindow"));
        const QRectF r = w->mapRectToScene(QRectF(0, 0, w->width(), w->height()));
        const qreal dpr = window_->effectiveDevicePixelRatio();
        return QRect(qRound(r.x() * dpr), qRound(r.y() * dpr), qRound(r.width() * dpr),
                     qRound(r.height() * dpr));
    }

    std::shared_ptr<EngineStudioRenderer> renderer_;
    std::unique_ptr<StudioWindowHost> host_;
    QQuickWindow* window_ = nullptr;
    QQuickItem* viewport_ = nullptr;
};

// The facecam picture the feed makes of the portrait (mirrored, background removed), computed
// here with the same segmentation network.
QImage expectedCutout() {
    QImage portrait(kPortrait);
    portrait = portrait.convertToFormat(QImage::Format_ARGB32);
    cv::Mat bgra(portrait.height(), portrait.width(), CV_8UC4, portrait.bits(), portrait.bytesPerLine());
    platform::OnnxPersonSegmenter segmenter(platform::SegmentationModel::general);
    creator::FacecamFrameProcessor processor;
    processor.setSegmenter(&segmenter);
    creator::FacecamFrameSettings settings;
    settings.mode = creator::OruFacecamBackgroundModeV1045::cutoutNoBackground;
    settings.mirrored = true;
    return processor.process(bgra.clone(), settings).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

TEST_F(PresenterLive, CutoutShowsThePersonOverTheStudioAndOffLeavesTheStudioAlone) {
    const QImage studioAlone = grab();
    ASSERT_EQ(overlay(), nullptr);

    host_->viewModel().setShowVisionPresenter(true);
    QObject* o = overlay();
    ASSERT_NE(o, nullptr);
    QObject* studio = o->property("studio").value<QObject*>();
    ASSERT_NE(studio, nullptr);
    QMetaObject::invokeMethod(studio, "toggleCamera");
    ASSERT_TRUE(pumpUntil([&] { return studio->property("hasCameraFrame").toBool(); }, 90000))
        << studio->property("statusMessage").toString().toStdString();
    EXPECT_EQ(studio->property("statusMessage").toString(), "Live Camera Active");
    ASSERT_TRUE(waitForFrames(3));
    const QImage shot = grab();
    const QRect win = facecamPixels();
    ASSERT_EQ(win.size(), QSize(176, 132));  // scale 1, free cutout

    // Map each window pixel to the picture (filled with its aspect kept, overflow cropped).
    const QImage expected = expectedCutout();
    ASSERT_FALSE(expected.isNull());
    const QRectF src = creator::qml::aspectFillSourceRect(expected.size(), QSizeF(win.size()));
    cv::Mat person(win.height(), win.width(), CV_8U, cv::Scalar(0));
    cv::Mat background(win.height(), win.width(), CV_8U, cv::Scalar(0));
    std::vector<QRgb> wanted(std::size_t(win.width()) * win.height());
    for (int v = 0; v < win.height(); ++v) {
        for (int u = 0; u < win.width(); ++u) {
            const int x =
                std::clamp(int(src.x() + (u + 0.5) * src.width() / win.width()), 0, expected.width() - 1);
            const int y =
                std::clamp(int(src.y() + (v + 0.5) * src.height() / win.height()), 0, expected.height() - 1);
            const QRgb p = expected.pixel(x, y);
            wanted[std::size_t(v) * win.width() + u] = p;
            if (qAlpha(p) > 240) person.at<std::uint8_t>(v, u) = 255;
            if (qAlpha(p) < 10) background.at<std::uint8_t>(v, u) = 255;
        }
    }
    // Keep away from the outline (antialiasing, resampling) and from the person's shadow.
    cv::erode(person, person, cv::Mat::ones(5, 5, CV_8U));
    cv::Mat nearPerson;
    cv::dilate(person, nearPerson, cv::Mat::ones(45, 45, CV_8U));
    background.setTo(0, nearPerson);
    cv::Mat inside(win.height(), win.width(), CV_8U, cv::Scalar(0));
    cv::rectangle(inside, cv::Rect(6, 6, win.width() - 12, win.height() - 12), cv::Scalar(255), cv::FILLED);
    // The control row straddles the window's bottom edge and hides part of the picture.
    if (auto* controls = window_->findChild<QQuickItem*>(QStringLiteral("facecamControls"))) {
        const QRectF r = controls->mapRectToScene(QRectF(0, 0, controls->width(), controls->height()));
        const qreal dpr = window_->effectiveDevicePixelRatio();
        const QRect hidden = QRect(qFloor(r.x() * dpr) - win.x() - 2, qFloor(r.y() * dpr) - win.y() - 2,
                                   qCeil(r.width() * dpr) + 4, qCeil(r.height() * dpr) + 4)
                                 .intersected(QRect(0, 0, win.width(), win.height()));
        if (!hidden.isEmpty())
            cv::rectangle(inside, cv::Rect(hidden.x(), hidden.y(), hidden.width(), hidden.height()),
                          cv::Scalar(0), cv::FILLED);
    }
    person.setTo(0, inside == 0);
    background.setTo(0, inside == 0);

    int personPixels = 0, personMatches = 0, backgroundPixels = 0, backgroundMatches = 0;
    for (int v = 0; v < win.height(); ++v) {
        for (int u = 0; u < win.width(); ++u) {
            const QRgb got = shot.pixel(win.x() + u, win.y() + v);
            const auto near = [&](QRgb want, int tolerance) {
                return std::abs(qRed(got) - qRed(want)) <= tolerance &&
                       std::abs(qGreen(got) - qGreen(want)) <= tolerance &&
                       std::abs(qBlue(got) - qBlue(want)) <= tolerance;
            };
            if (person.at<std::uint8_t>(v, u)) {
                ++personPixels;
                personMatches += near(wanted[std::size_t(v) * win.width() + u], 40);
            } else if (background.at<std::uint8_t>(v, u)) {
                ++backgroundPixels;
                backgroundMatches += near(studioAlone.pixel(win.x() + u, win.y() + v), 24);
            }
        }
    }
    ASSERT_GT(personPixels, 1500) << "the segmentation found too little person in the window";
    ASSERT_GT(backgroundPixels, 300) << "the segmentation left too little background in the window";
    std::printf("person pixels matching: %d of %d; background pixels matching: %d of %d\n", personMatches,
                personPixels, backgroundMatches, backgroundPixels);
    EXPECT_GT(double(personMatches) / personPixels, 0.9) << personMatches << " of " << personPixels;
    EXPECT_GT(double(backgroundMatches) / backgroundPixels, 0.9)
        << backgroundMatches << " of " << backgroundPixels;
    if (HasFailure()) {
        shot.save(QStringLiteral("presenter_actual.png"));
        studioAlone.save(QStringLiteral("presenter_studio_alone.png"));
    }

    // Off: the overlay is gone and the viewport shows the studio alone again.
    host_->viewModel().setShowVisionPresenter(false);
    EXPECT_TRUE(pumpUntil(
        [&] {
            // The loader lets go of the overlay with deleteLater, which only an event loop runs.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return overlay() == nullptr;
        },
        10000));
    ASSERT_TRUE(waitForFrames(3));
    const QImage after = grab();
    int differing = 0;
    for (int v = 0; v < win.height(); ++v) {
        for (int u = 0; u < win.width(); ++u) {
            const QRgb a = after.pixel(win.x() + u, win.y() + v);
            const QRgb b = studioAlone.pixel(win.x() + u, win.y() + v);
            differing += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                             std::abs(qBlue(a) - qBlue(b)) >
                         36;
        }
    }
    EXPECT_LT(differing, win.width() * win.height() / 20);
}

}  // namespace
}  // namespace vantry::app
