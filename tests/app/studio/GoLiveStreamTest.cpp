// GO LIVE from the window's controller, with the real engine and stream, to an ffmpeg receiver on
// 127.0.0.1: the received picture is the studio with the presenter where the overlay shows it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QSizeF>
#include <filesystem>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/GoLiveController.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/support/FakePresenterSource.h"
#include "tests/support/LoopbackListener.h"
#include "tests/support/Ports.h"

namespace {

namespace fs = std::filesystem;

TEST(GoLiveStream, SendsTheStudioWithThePresenterWhereTheOverlayShowsIt) {
    auto renderer = vantry::app::EngineStudioRenderer::create();
    if (!renderer) GTEST_SKIP() << "no OpenGL 3.3 context through EGL";
    const fs::path dir = fs::current_path() / "go_live_stream";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const int port = vantry::testing::freePort();
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(port) + "/live";
    QProcess receiver;
    receiver.start(
        "ffmpeg", {"-loglevel", "error", "-listen", "1", "-i", QString::fromStdString(url + "/key42"),
                   "-frames:v", "45", "-c", "copy", "-y", QString::fromStdString((dir / "in.flv").string())});
    ASSERT_TRUE(receiver.waitForStarted()) << "needs ffmpeg";
    ASSERT_TRUE(vantry::testing::waitForListener(port)) << "the receiver did not start listening";

    vantry::app::GoLiveController::Services services;
    services.folder = dir / "config";
    services.render = [renderer](int w, int h, vantry::ProgramCanvas canvas) {
        return renderer->renderSharedProgramFrame(w, h, canvas);
    };
    vantry::app::GoLiveController live(std::move(services));
    live.setUrl(QString::fromStdString(url));
    live.setStreamKey("key42");
    // The overlay in a 640 x 360 viewport: a magenta facecam picture, framed, right of centre.
    vantry::testing::FakePresenterSource overlay;
    QImage picture(160, 120, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(255, 0, 255));
    overlay.update([&](vantry::creator::PresenterSnapshot& s) {
        s.cameraEnabled = true;
        s.offset = QSizeF(150, 0);
        s.scale = 1.0;
        s.frameShape = vantry::creator::OruFacecamShapeV1045::rounded;
        s.backgroundMode = vantry::creator::OruFacecamBackgroundModeV1045::fullCamera;
        s.picture = picture;
    });
    live.setViewportSize(QSizeF(640, 360));
    live.setPresenter(&overlay);

    live.goLive();
    ASSERT_TRUE(live.isLive()) << live.statusLine().toStdString();
    bool wentLive = false;
    for (int i = 0; i < 400 && receiver.state() != QProcess::NotRunning; ++i) {
        vantry::platform::drainMainQueue();
        wentLive = wentLive || live.state() == "live";
        receiver.waitForFinished(25);
    }
    vantry::platform::drainMainQueue();
    wentLive = wentLive || live.state() == "live";
    live.endStream();
    receiver.waitForFinished(10'000);
    EXPECT_TRUE(wentLive) << live.statusLine().toStdString();

    const fs::path still = dir / "frame.png";
    QProcess grab;
    grab.start("ffmpeg",
               {"-v", "error", "-sseof", "-0.5", "-i", QString::fromStdString((dir / "in.flv").string()),
                "-frames:v", "1", "-y", QString::fromStdString(still.string())});
    ASSERT_TRUE(grab.waitForFinished(30'000));
    const QImage frame(QString::fromStdString(still.string()));
    ASSERT_EQ(frame.size(), QSize(1280, 720));
    // Window 352 x 264 centred at (640 + 300, 360) in the 1280 x 720 picture.
    const QRgb inside = frame.pixel(940, 360);
    EXPECT_GT(qRed(inside), 200);
    EXPECT_LT(qGreen(inside), 60);
    EXPECT_GT(qBlue(inside), 200);
    const QRgb outside = frame.pixel(300, 360);
    EXPECT_FALSE(qRed(outside) > 200 && qGreen(outside) < 60 && qBlue(outside) > 200);
}

}  // namespace
