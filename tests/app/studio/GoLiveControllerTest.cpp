// The GO LIVE controller's states over a scripted output, on a main thread of the test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <QSizeF>
#include <QVariantMap>
#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/studio-app/GoLiveController.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/support/FakePresenterSource.h"

namespace {

using vantry::app::GoLiveController;
using vantry::platform::LiveStreamSettings;
using vantry::platform::LiveStreamState;
using vantry::platform::LiveStreamStatus;
namespace fs = std::filesystem;
using Snapshot = vantry::creator::PresenterSnapshot;
using Shape = vantry::creator::OruFacecamShapeV1045;
using Mode = vantry::creator::OruFacecamBackgroundModeV1045;

struct ScriptedOutput : vantry::app::LiveOutput {
    LiveStreamSettings settings;
    vantry::platform::LiveStream::StatusCallback report;
    std::atomic<int> pictures{0};
    std::atomic<bool> stopped{false};
    void offerBGRA(const std::uint8_t*, std::ptrdiff_t) override { ++pictures; }
    void stop() override { stopped = true; }
};

class GoLive : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("golive_controller_" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        GoLiveController::Services services;
        services.folder = folder_;
        services.render = [this](int w, int h, vantry::ProgramCanvas canvas) {
            RenderCount& count = renders_[canvas == vantry::ProgramCanvas::vertical ? 1 : 0];
            ++count.frames;
            count.width = w;
            count.height = h;
            return vantry::sharedFrameOf(std::vector<std::uint8_t>(std::size_t(w * h * 4)));
        };
        services.openOutput = [this](const LiveStreamSettings& s,
                                     vantry::platform::LiveStream::StatusCallback cb) {
            if (s.url.rfind("bad://", 0) == 0)
                throw vantry::platform::LiveStreamError("'bad://x' is not an address");
            auto out = std::make_unique<ScriptedOutput>();
            out->settings = s;
            out->report = std::move(cb);
            outputs_.push_back(out.get());
            return out;
        };
        services.virtualCameras = [this] { return devices_; };
        live_ = std::make_unique<GoLiveController>(std::move(services));
        live_->setUrl("rtmp://127.0.0.1:1935/live");
        live_->setStreamKey("sk_live_7f3a");
    }
    void TearDown() override {
        live_.reset();
        fs::remove_all(folder_);
    }
    // A status report from the output's own thread, delivered on the main thread.
    void report(ScriptedOutput* out, LiveStreamStatus status) {
        out->report(status);
        vantry::platform::drainMainQueue();
    }

    // What the render service was asked for, by picture: landscape, vertical.
    struct RenderCount {
        std::atomic<int> frames{0};
        std::atomic<int> width{0}, height{0};
    };
    RenderCount renders_[2];
    fs::path folder_;
    std::vector<std::string> devices_;
    std::vector<ScriptedOutput*> outputs_;
    std::unique_ptr<GoLiveController> live_;
};

TEST_F(GoLive, GoesLiveReportsAndEnds) {
    live_->goLive();
    ASSERT_EQ(outputs_.size(), 1u);
    ScriptedOutput* out = outputs_[0];
    EXPECT_EQ(out->settings.streamKey, "sk_live_7f3a");
    EXPECT_EQ(out->settings.width, 1280);
    EXPECT_EQ(out->settings.videoBitRate, 4'500'000);
    EXPECT_TRUE(live_->isLive());
    EXPECT_EQ(live_->statusLine(), "Connecting…");

    struct Step {
        LiveStreamState state;
        double elapsed, rate, retry;
        const char* line;
        double withoutDelivery = 0;
    };
    const Step steps[] = {
        {LiveStreamState::live, 65.4, 4'430'000, 0, "LIVE 01:05 · 4.4 Mbit/s"},
        {LiveStreamState::stalled, 68.2, 1'200'000, 0, "STALLED 01:08 · the server has taken nothing for 3 s",
         3.4},
        {LiveStreamState::reconnecting, 70, 0, 3.2, "Reconnecting in 4 s…"},
        {LiveStreamState::live, 3725, 4'500'000, 0, "LIVE 1:02:05 · 4.5 Mbit/s"},
    };
    for (const Step& s : steps) {
        LiveStreamStatus status;
        status.state = s.state;
        status.elapsedSeconds = s.elapsed;
        status.measuredBitRate = s.rate;
        status.retryInSeconds = s.retry;
        status.secondsWithoutDelivery = s.withoutDelivery;
        report(out, status);
        EXPECT_EQ(live_->statusLine().toStdString(), s.line);
        EXPECT_TRUE(live_->isLive());
    }
    while (out->pictures < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the feed reaches the output

    live_->endStream();
    EXPECT_FALSE(live_->isLive());
    EXPECT_EQ(live_->state(), "idle");
    LiveStreamStatus late;
    late.state = LiveStreamState::failed;
    late.message = "late";
    report(out, late);  // a report of the stream that ended changes nothing
    EXPECT_EQ(live_->state(), "idle");
    while (!out->stopped)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // closed off the main thread
}

TEST_F(GoLive, FailuresEndTheStreamWithTheMessageAndNeverTheKey) {
    live_->goLive();
    LiveStreamStatus failed;
    failed.state = LiveStreamState::failed;
    failed.message = "server refused rtmp://127.0.0.1:1935/live/sk_live_7f3a";
    report(outputs_[0], failed);
    EXPECT_FALSE(live_->isLive());
    EXPECT_EQ(live_->state(), "failed");
    EXPECT_EQ(live_->statusLine(), "server refused rtmp://127.0.0.1:1935/live/****");

    live_->setUrl("bad://x");
    live_->goLive();  // refused at once
    EXPECT_FALSE(live_->isLive());
    EXPECT_EQ(live_->statusLine(), "'bad://x' is not an address");
}

TEST_F(GoLive, OnlyAGoodAddressIsKeptAndMendingItClearsTheFailure) {
    live_->setUrl("bad://x");
    live_->goLive();
    EXPECT_EQ(live_->state(), "failed");
    live_->clearFailure();  // the user types in the field
    EXPECT_EQ(live_->state(), "idle");
    EXPECT_EQ(live_->statusLine(), "");
    EXPECT_EQ(vantry::app::feed::loadGoLiveSettings(folder_).destinations[0].url,
              "rtmp://127.0.0.1:1935/live")
        << "the refused address is not saved";
    live_->setUrl("rtmp://127.0.0.1:1935/show");
    EXPECT_EQ(vantry::app::feed::loadGoLiveSettings(folder_).destinations[0].url,
              "rtmp://127.0.0.1:1935/show");
    live_->setUrl("rtmp:///show");
    EXPECT_EQ(live_->url(), "rtmp:///show") << "used for this run";
    EXPECT_EQ(vantry::app::feed::loadGoLiveSettings(folder_).destinations[0].url,
              "rtmp://127.0.0.1:1935/show");
}

// The switched-on servers with an address take one stream, each with its own key and status
// line; the settings and each key are kept.
TEST_F(GoLive, SeveralServersTakeOneStreamEachWithItsOwnLine) {
    live_->setDestinationUrl(1, "rtmp://127.0.0.1:1936/app");
    live_->setDestinationKey(1, "sk_two_91b2");
    live_->setDestinationUrl(2, "srt://127.0.0.1:9000");
    live_->setDestinationEnabled(2, false);
    live_->setDestinationUrl(3, "rtmps://127.0.0.1:443/x");
    const auto saved = vantry::app::feed::loadGoLiveDestinations(folder_);
    EXPECT_EQ(saved[1].streamKey, "sk_two_91b2");
    EXPECT_FALSE(saved[2].enabled);
    EXPECT_EQ(saved[3].url, "rtmps://127.0.0.1:443/x");

    live_->goLive();
    ASSERT_EQ(outputs_.size(), 1u);
    const LiveStreamSettings& s = outputs_[0]->settings;
    EXPECT_EQ(s.streamKey, "sk_live_7f3a");
    ASSERT_EQ(s.moreDestinations.size(), 2u);
    EXPECT_EQ(s.moreDestinations[0].url, "rtmp://127.0.0.1:1936/app");
    EXPECT_EQ(s.moreDestinations[0].streamKey, "sk_two_91b2");
    EXPECT_EQ(s.moreDestinations[1].url, "rtmps://127.0.0.1:443/x");
    live_->setDestinationEnabled(0, false);  // fixed while live
    EXPECT_TRUE(live_->destinations()[0].toMap()["enabled"].toBool());

    LiveStreamStatus status;
    status.state = LiveStreamState::live;
    status.elapsedSeconds = 10;
    status.measuredBitRate = 2'000'000;
    status.destinations.resize(3);
    status.destinations[0].state = LiveStreamState::live;
    status.destinations[0].measuredBitRate = 2'000'000;
    status.destinations[1].state = LiveStreamState::reconnecting;
    status.destinations[1].retryInSeconds = 2;
    status.destinations[2].state = LiveStreamState::failed;
    status.destinations[2].message = "Could not connect to rtmp://127.0.0.1:1936/app/sk_two_91b2";
    report(outputs_[0], status);
    const QVariantList lines = live_->destinationStates();
    const char* expected[][2] = {{"live", "LIVE 00:10 · 2.0 Mbit/s"},
                                 {"reconnecting", "Reconnecting in 2 s…"},
                                 {"idle", ""},
                                 {"failed", "Could not connect to rtmp://127.0.0.1:1936/app/****"}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i].toMap()["state"].toString().toStdString(), expected[i][0]) << i;
        EXPECT_EQ(lines[i].toMap()["statusLine"].toString().toStdString(), expected[i][1]) << i;
    }
    EXPECT_EQ(live_->statusLine().toStdString(), "LIVE 00:10 · 2.0 Mbit/s");
    live_->endStream();
    EXPECT_EQ(live_->destinationStates()[0].toMap()["state"].toString(), "idle");
}

// A server that refused the first connection, or did not answer it, is tried again: its line
// and the section's say so, and when.
TEST_F(GoLive, AServerNotUpYetShowsWhenItIsTriedAgain) {
    live_->setDestinationUrl(1, "rtmp://127.0.0.1:1936/app");
    live_->goLive();
    ASSERT_EQ(outputs_.size(), 1u);
    LiveStreamStatus status;
    status.state = LiveStreamState::connecting;
    status.retryInSeconds = 2.4;
    status.destinations.resize(2);
    status.destinations[0].state = LiveStreamState::connecting;
    status.destinations[1].state = LiveStreamState::connecting;
    status.destinations[1].retryInSeconds = 1;
    status.destinations[1].message = "Could not connect to rtmp://127.0.0.1:1936/app: Connection refused";
    report(outputs_[0], status);
    EXPECT_TRUE(live_->isLive());
    EXPECT_EQ(live_->state(), "connecting");
    EXPECT_EQ(live_->statusLine().toStdString(), "Connecting · retry in 3 s…");
    const QVariantList lines = live_->destinationStates();
    EXPECT_EQ(lines[0].toMap()["statusLine"].toString().toStdString(), "Connecting…");
    EXPECT_EQ(lines[1].toMap()["state"].toString().toStdString(), "connecting");
    EXPECT_EQ(
        lines[1].toMap()["statusLine"].toString().toStdString(),
        "Connecting · retry in 1 s… · Could not connect to rtmp://127.0.0.1:1936/app: Connection refused");
}

// A passphrase SRT cannot take is named at Go Live, before any connection; the field shows the
// passphrase (and a key in the path) as it shows a key, in dots.
TEST_F(GoLive, SrtPassphrasesAreCheckedAndShownAsDots) {
    live_->setUrl("srt://127.0.0.1:9000?latency=200&passphrase=Short5");
    live_->goLive();
    EXPECT_FALSE(live_->isLive());
    EXPECT_TRUE(outputs_.empty());
    EXPECT_EQ(live_->state(), "failed");
    EXPECT_EQ(live_->statusLine().toStdString(), "An SRT passphrase must be 10 to 79 characters long");
    live_->setUrl("rtmp://127.0.0.1:1935/live");
    live_->setDestinationUrl(1, "srt://127.0.0.1:9000?passphrase=" + QString(80, QLatin1Char('p')));
    live_->goLive();
    EXPECT_TRUE(outputs_.empty());
    EXPECT_EQ(live_->statusLine().toStdString(),
              "Server 2: An SRT passphrase must be 10 to 79 characters long");

    const QString dot = QStringLiteral("\u25cf");
    live_->setDestinationUrl(1, "srt://127.0.0.1:9000?passphrase=Right4Phrase&latency=20");
    EXPECT_EQ(live_->destinations()[1].toMap()["shownUrl"].toString(),
              "srt://127.0.0.1:9000?passphrase=" + dot.repeated(12) + "&latency=20");
    EXPECT_EQ(live_->destinations()[1].toMap()["url"].toString(),
              "srt://127.0.0.1:9000?passphrase=Right4Phrase&latency=20");
    live_->setStreamKey("");
    live_->setUrl("rtmp://127.0.0.1:1935/live/KEYINURL77");
    EXPECT_EQ(live_->destinations()[0].toMap()["shownUrl"].toString(),
              "rtmp://127.0.0.1:1935/live/" + dot.repeated(10));
    live_->goLive();
    EXPECT_TRUE(live_->isLive()) << live_->statusLine().toStdString();
}

// Each picture a server takes gets one feed at its size and one stream for all its servers; a
// picture no server takes is never rendered.
TEST_F(GoLive, EachPictureInUseTakesOneStreamAtItsSize) {
    using vantry::ProgramCanvas;
    constexpr auto L = ProgramCanvas::landscape, V = ProgramCanvas::vertical;
    struct Stream {
        int width, height;
        std::size_t servers;
    };
    const struct Case {
        const char* what;
        const char* size;
        std::array<ProgramCanvas, 3> canvases;  // servers 1 to 3
        std::vector<Stream> streams;            // in the order opened: landscape first
    } cases[] = {
        {"one of each", "1280x720", {L, V, L}, {{1280, 720, 2}, {720, 1280, 1}}},
        {"vertical only, 1080p", "1920x1080", {V, V, V}, {{1080, 1920, 3}}},
        {"landscape only", "1280x720", {L, L, L}, {{1280, 720, 3}}},
    };
    live_->setDestinationUrl(1, "rtmp://127.0.0.1:1936/app");
    live_->setDestinationUrl(2, "rtmp://127.0.0.1:1937/app");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        live_->setSize(c.size);
        for (int i = 0; i < 3; ++i)
            live_->setDestinationCanvas(
                i, i == 1 ? QString::fromLatin1(vantry::programCanvasLabel(c.canvases[1]))
                          : QString::fromLatin1(vantry::programCanvasName(c.canvases[std::size_t(i)])));
        for (auto& r : renders_) r.frames = 0;
        outputs_.clear();
        live_->goLive();
        ASSERT_EQ(outputs_.size(), c.streams.size());
        for (std::size_t k = 0; k < c.streams.size(); ++k) {
            EXPECT_EQ(outputs_[k]->settings.width, c.streams[k].width) << k;
            EXPECT_EQ(outputs_[k]->settings.height, c.streams[k].height) << k;
            EXPECT_EQ(outputs_[k]->settings.moreDestinations.size() + 1, c.streams[k].servers) << k;
            while (outputs_[k]->pictures < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (const ProgramCanvas canvas : {L, V}) {
            const bool taken = std::find(c.canvases.begin(), c.canvases.end(), canvas) != c.canvases.end();
            const RenderCount& r = renders_[canvas == V ? 1 : 0];
            EXPECT_EQ(r.frames > 0, taken) << vantry::programCanvasName(canvas);
            if (taken) {
                const vantry::CanvasSize size =
                    vantry::programCanvasSize(canvas, live_->size() == "1920x1080" ? 1920 : 1280,
                                              live_->size() == "1920x1080" ? 1080 : 720);
                EXPECT_EQ(r.width, size.width);
                EXPECT_EQ(r.height, size.height);
            }
        }
        const bool vertical = std::find(c.canvases.begin(), c.canvases.end(), V) != c.canvases.end();
        EXPECT_EQ(live_->verticalLive(), vertical);
        // The window's preview: the vertical picture, small, handed over on the main thread.
        vantry::platform::drainMainQueue();
        EXPECT_EQ(live_->verticalPreview().size(), vertical ? QSize(180, 320) : QSize(0, 0));
        live_->endStream();
        EXPECT_FALSE(live_->verticalLive());
        EXPECT_TRUE(live_->verticalPreview().isNull());
    }
}

// Two streams make one section line: live once both are, and a failed one named by its servers
// while the other goes on; each server keeps its own line and picture, fixed while live.
TEST_F(GoLive, TwoPicturesSumUpInTheSectionsLine) {
    live_->setDestinationUrl(1, "rtmp://127.0.0.1:1936/app");
    live_->setDestinationKey(1, "sk_two_91b2");
    live_->setDestinationCanvas(1, "vertical");
    live_->setDestinationCanvas(2, "sideways");  // not a picture: unchanged
    EXPECT_EQ(vantry::app::feed::loadGoLiveSettings(folder_).destinations[1].canvas,
              vantry::ProgramCanvas::vertical);
    live_->goLive();
    ASSERT_EQ(outputs_.size(), 2u);
    live_->setDestinationCanvas(1, "landscape");  // fixed while live
    const QVariantList shown = live_->destinations();
    EXPECT_EQ(shown[0].toMap()["canvas"].toString(), "landscape");
    EXPECT_EQ(shown[1].toMap()["canvas"].toString(), "vertical");
    EXPECT_EQ(shown[2].toMap()["canvas"].toString(), "landscape");

    const auto status = [](LiveStreamState state, double elapsed, double rate, const char* message = "") {
        LiveStreamStatus s;
        s.state = state;
        s.elapsedSeconds = elapsed;
        s.measuredBitRate = rate;
        s.message = message;
        s.destinations.resize(1);
        s.destinations[0].state = state;
        s.destinations[0].measuredBitRate = rate;
        s.destinations[0].message = message;
        return s;
    };
    struct Step {
        std::size_t output;
        LiveStreamStatus status;
        const char* state;
        const char* line;
        bool live;
    };
    const Step steps[] = {
        {0, status(LiveStreamState::live, 10, 4'000'000), "connecting", "Server 2: Connecting…", true},
        {1, status(LiveStreamState::live, 9, 2'000'000), "live", "LIVE 00:10 · 6.0 Mbit/s", true},
        {1, status(LiveStreamState::reconnecting, 11, 0), "reconnecting", "Server 2: Reconnecting in 0 s…",
         true},
        {1, status(LiveStreamState::failed, 12, 0, "refused rtmp://127.0.0.1:1936/app/sk_two_91b2"), "live",
         "LIVE 00:10 · 4.0 Mbit/s · Server 2: refused rtmp://127.0.0.1:1936/app/****", true},
        {0, status(LiveStreamState::failed, 13, 0, "lost"), "failed",
         "Server 2: refused rtmp://127.0.0.1:1936/app/**** · Server 1: lost", false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line);
        report(outputs_[step.output], step.status);
        EXPECT_EQ(live_->state().toStdString(), step.state);
        EXPECT_EQ(live_->statusLine().toStdString(), step.line);
        EXPECT_EQ(live_->isLive(), step.live);
    }
    EXPECT_EQ(live_->destinationStates()[1].toMap()["state"].toString(), "failed");
    EXPECT_EQ(live_->destinationStates()[1].toMap()["statusLine"].toString(),
              "refused rtmp://127.0.0.1:1936/app/****");
}

TEST_F(GoLive, VirtualCameraNeedsADevice) {
    live_->setVirtualCameraOn(true);
    EXPECT_FALSE(live_->virtualCameraOn());
    EXPECT_FALSE(live_->virtualCameraAvailable());
    EXPECT_TRUE(outputs_.empty());

    devices_ = {"/dev/video10"};
    live_->setVirtualCameraOn(true);
    ASSERT_TRUE(live_->virtualCameraOn());
    ASSERT_EQ(outputs_.size(), 1u);
    EXPECT_EQ(outputs_[0]->settings.url, "/dev/video10");
    EXPECT_FALSE(outputs_[0]->settings.captureMicrophone);
    EXPECT_TRUE(outputs_[0]->settings.streamKey.empty());
    // A stream started while the camera runs takes the running feed's size, whatever was picked.
    live_->setSize("1920x1080");
    live_->goLive();
    ASSERT_EQ(outputs_.size(), 2u);
    EXPECT_EQ(outputs_[1]->settings.height, 720);
    live_->endStream();
    live_->setVirtualCameraOn(false);
    EXPECT_FALSE(live_->virtualCameraOn());
}

TEST_F(GoLive, PresenterFollowsTheOverlayController) {
    vantry::testing::FakePresenterSource overlay;
    live_->setViewportSize(QSizeF(800, 450));
    live_->setPresenter(&overlay);
    EXPECT_FALSE(live_->currentPresenter().visible);  // camera off: the studio alone

    overlay.update([](Snapshot& s) {
        s.cameraEnabled = true;
        s.offset = QSizeF(-16, -96);
        s.scale = 1.2;
        s.frameShape = Shape::circle;
        s.backgroundMode = Mode::studioBlur;
        s.picture = QImage(64, 48, QImage::Format_ARGB32_Premultiplied);
    });
    auto p = live_->currentPresenter();
    EXPECT_TRUE(p.visible);
    EXPECT_EQ(p.look.viewportHeight, 450);
    EXPECT_EQ(p.look.offsetY, -96);
    EXPECT_EQ(p.look.scale, 1.2);
    EXPECT_EQ(p.look.shape, vantry::app::feed::PresenterShape::circle);
    EXPECT_FALSE(p.look.freeCutout);
    EXPECT_EQ(p.picture.size(), QSize(64, 48));

    overlay.update([](Snapshot& s) {
        s.frameShape = Shape::freeCutout;
        s.backgroundMode = Mode::cutoutNoBackground;
    });
    EXPECT_TRUE(live_->currentPresenter().look.freeCutout);
    live_->setPresenter(nullptr);  // "Vision Cutout" off
    EXPECT_FALSE(live_->currentPresenter().visible);
}

// A saved key file the studio refuses (a link, one open to others) is said on its server's
// line, and its content is never taken as the key.
TEST_F(GoLive, RefusedKeyFilesAreSaidOnTheirServersLine) {
    fs::create_directories(folder_);
    std::ofstream(folder_ / "elsewhere") << "not-a-key\n";
    fs::remove(folder_ / "stream-key");
    fs::create_symlink(folder_ / "elsewhere", folder_ / "stream-key");
    std::ofstream(folder_ / "stream-key-3") << "sk_three\n";
    ::chmod((folder_ / "stream-key-3").c_str(), 0644);
    GoLiveController::Services services;
    services.folder = folder_;
    services.render = [](int, int, vantry::ProgramCanvas) { return vantry::SharedFrame{}; };
    services.virtualCameras = [] { return std::vector<std::string>(); };
    GoLiveController reloaded(std::move(services));
    EXPECT_EQ(reloaded.streamKey(), "");
    const QVariantList states = reloaded.destinationStates();
    EXPECT_NE(states[0].toMap().value("statusLine").toString().indexOf("symbolic link"), -1);
    EXPECT_NE(states[2].toMap().value("statusLine").toString().indexOf("open to other users"), -1);
    EXPECT_TRUE(states[1].toMap().value("statusLine").toString().isEmpty());
    EXPECT_EQ(reloaded.destinations()[2].toMap().value("streamKey").toString(), "");
    reloaded.setDestinationKey(2, "sk_typed");
    EXPECT_TRUE(reloaded.destinationStates()[2].toMap().value("statusLine").toString().isEmpty());
    EXPECT_EQ(vantry::app::feed::loadStreamKey(folder_, 2), "sk_typed") << "saved private, so read again";
}

}  // namespace
