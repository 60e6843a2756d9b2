#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/studio-app/VantryViewModel.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/app/studio/FakeStudioRenderer.h"
#include "tests/support/FakePresenterSource.h"
#include "tests/support/SoundWithoutDevices.h"

namespace vantry::app {
namespace {

using testing::FakeStudioRenderer;
using testing::ScriptedPanels;

class ViewModelTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::drainMainQueue(); }
    void TearDown() override {
        if (renderer) renderer->releaseExports();
        vm.reset();
        platform::drainMainQueue();
    }

    // Over a programme sound with no devices: nothing but the view model's own tasks reaches
    // the main queue.
    void make() {
        vm = std::make_unique<VantryViewModel>(renderer, &panels, WallFeeds::system(),
                                               testing::soundWithoutDevices());
    }

    // Runs main-thread tasks until the export has come back (bounded).
    void waitForExportEnd() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (vm->isExporting() && std::chrono::steady_clock::now() < deadline) {
            platform::drainMainQueue();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_FALSE(vm->isExporting());
    }

    std::shared_ptr<FakeStudioRenderer> renderer = std::make_shared<FakeStudioRenderer>();
    ScriptedPanels panels;
    std::unique_ptr<VantryViewModel> vm;
};

TEST_F(ViewModelTest, ConstructionStartsWithDefaultsAndPushesAngleAndGains) {
    renderer->slideName = "Backdrop.png";
    make();
    EXPECT_EQ(vm->selectedSet(), BroadcastStudioSet::manhattanLoft);
    EXPECT_EQ(vm->cameraAngle(), BroadcastCameraAngle::wideDesk);
    EXPECT_FLOAT_EQ(vm->keyGain(), 1.35f);
    EXPECT_FLOAT_EQ(vm->neonGain(), 1.25f);
    EXPECT_FLOAT_EQ(vm->ledBrightness(), 1.15f);
    EXPECT_FALSE(vm->showVisionPresenter());
    EXPECT_DOUBLE_EQ(vm->liveFPS(), 120.0);
    EXPECT_FALSE(vm->isExporting());
    EXPECT_FALSE(vm->statusBanner().has_value());
    EXPECT_FALSE(vm->hasStatusBanner());
    EXPECT_EQ(vm->slideName(), "Backdrop.png");

    EXPECT_EQ(renderer->angle, BroadcastCameraAngle::wideDesk);
    EXPECT_FLOAT_EQ(renderer->keyLightGain, 1.35f);
    EXPECT_FLOAT_EQ(renderer->neonAccentGain, 1.25f);
    EXPECT_FLOAT_EQ(renderer->ledWallBrightness, 1.15f);
    EXPECT_TRUE(renderer->loadedSets.empty());  // the renderer built its first set itself
    EXPECT_TRUE(static_cast<bool>(renderer->onFPSUpdate));
}

TEST_F(ViewModelTest, RefineEdgesIsOnByDefaultAndKeptForTheNextRun) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> saved = before ? std::optional<std::string>(before) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);

    make();
    EXPECT_TRUE(vm->refineEdges());
    int changes = 0;
    QObject::connect(vm.get(), &VantryViewModel::refineEdgesChanged, [&] { ++changes; });
    vm->setProperty("refineEdges", false);
    vm->setRefineEdges(false);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(config.path().toStdString() + "/vantry-pro/studio.ini"));
    EXPECT_FALSE(std::filesystem::exists(config.path().toStdString() + "/vantry"));
    vm.reset();
    make();
    EXPECT_FALSE(vm->refineEdges());

    if (saved) {
        ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(ViewModelTest, ColourMatchIsOnByDefaultReachesTheRendererAndIsKeptForTheNextRun) {
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> saved = before ? std::optional<std::string>(before) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);

    make();
    EXPECT_TRUE(vm->colourMatch());
    EXPECT_EQ(renderer->colourMatch, std::optional<bool>(true));
    int changes = 0;
    QObject::connect(vm.get(), &VantryViewModel::colourMatchChanged, [&] { ++changes; });
    vm->setProperty("colourMatch", false);
    vm->setColourMatch(false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(renderer->colourMatch, std::optional<bool>(false));
    vm.reset();
    renderer->colourMatch.reset();
    make();
    EXPECT_FALSE(vm->colourMatch());
    EXPECT_EQ(renderer->colourMatch, std::optional<bool>(false));
    // For this run only (the command line): the saved choice stays.
    vm->chooseColourMatch(true, false);
    EXPECT_EQ(renderer->colourMatch, std::optional<bool>(true));
    vm.reset();
    make();
    EXPECT_FALSE(vm->colourMatch());

    if (saved) {
        ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(ViewModelTest, TheSetTakesEachNewPresenterPictureWhileThePresenterStandsThere) {
    make();
    vm->choosePresenterInSet(true, false);
    vm->setShowVisionPresenter(true);
    testing::FakePresenterSource presenter;
    vm->setPresenter(&presenter);
    EXPECT_TRUE(renderer->inSetPictures.empty()) << "camera off: the studio alone";

    const QImage first(8, 8, QImage::Format_ARGB32_Premultiplied);
    presenter.update([&](creator::PresenterSnapshot& s) {
        s.cameraEnabled = true;
        s.picture = first;
    });
    ASSERT_EQ(renderer->inSetPictures.size(), 1u);
    EXPECT_EQ(renderer->inSetPictures.back().cacheKey(), first.cacheKey());
    presenter.update([](creator::PresenterSnapshot& s) {
        s.micLevel = 0.6;
        s.offset = QSizeF(30, 40);
    });
    EXPECT_EQ(renderer->inSetPictures.size(), 1u) << "the same picture is not handed over again";
    const QImage second(4, 4, QImage::Format_ARGB32_Premultiplied);
    presenter.update([&](creator::PresenterSnapshot& s) { s.picture = second; });
    ASSERT_EQ(renderer->inSetPictures.size(), 2u);
    EXPECT_EQ(renderer->inSetPictures.back().cacheKey(), second.cacheKey());

    vm->choosePresenterInSet(false, false);  // floating: the set lets go of the picture
    ASSERT_EQ(renderer->inSetPictures.size(), 3u);
    EXPECT_TRUE(renderer->inSetPictures.back().isNull());
    presenter.update([](creator::PresenterSnapshot& s) { s.picture = QImage(2, 2, QImage::Format_RGB32); });
    EXPECT_EQ(renderer->inSetPictures.size(), 3u);
}

// A presenter object that is destroyed without being unset first leaves the set and the feed.
TEST_F(ViewModelTest, APresenterThatGoesAwayLeavesTheSetAndTheFeed) {
    make();
    vm->choosePresenterInSet(true, false);
    vm->setShowVisionPresenter(true);
    auto presenter = std::make_unique<testing::FakePresenterSource>();
    vm->setPresenter(presenter.get());
    vm->goLive().setPresenter(presenter.get());
    presenter->update([](creator::PresenterSnapshot& s) {
        s.cameraEnabled = true;
        s.picture = QImage(8, 8, QImage::Format_ARGB32_Premultiplied);
    });
    ASSERT_FALSE(renderer->inSetPictures.empty());
    ASSERT_FALSE(renderer->inSetPictures.back().isNull());
    int announced = 0;
    QObject::connect(&vm->goLive(), &GoLiveController::presenterChanged, [&] { ++announced; });
    presenter.reset();
    EXPECT_TRUE(renderer->inSetPictures.back().isNull()) << "the set still shows a presenter that is gone";
    EXPECT_EQ(announced, 1) << "the feed was not told the presenter is gone";
    EXPECT_FALSE(vm->goLive().currentPresenter().visible);
}

TEST_F(ViewModelTest, SelectSetLoadsAndAnnouncesEvenWhenAlreadySelected) {
    make();
    int bannerSignals = 0;
    int setSignals = 0;
    QObject::connect(vm.get(), &VantryViewModel::statusBannerChanged, [&] { ++bannerSignals; });
    QObject::connect(vm.get(), &VantryViewModel::selectedSetChanged, [&] { ++setSignals; });

    vm->selectSet(BroadcastStudioSet::neonCreatorDesk);
    EXPECT_EQ(vm->selectedSet(), BroadcastStudioSet::neonCreatorDesk);
    EXPECT_EQ(vm->statusBannerText(), "Switched Studio Set: Cyber Creator Desk");
    ASSERT_EQ(renderer->loadedSets.size(), 1u);
    EXPECT_EQ(renderer->loadedSets[0], BroadcastStudioSet::neonCreatorDesk);

    vm->selectSet(BroadcastStudioSet::neonCreatorDesk);
    ASSERT_EQ(renderer->loadedSets.size(), 2u);
    EXPECT_EQ(renderer->loadedSets[1], BroadcastStudioSet::neonCreatorDesk);
    EXPECT_EQ(vm->statusBannerText(), "Switched Studio Set: Cyber Creator Desk");
    EXPECT_EQ(bannerSignals, 2);
    EXPECT_EQ(setSignals, 1);

    vm->selectSet(QStringLiteral("timber-podcast"));
    EXPECT_EQ(vm->statusBannerText(), "Switched Studio Set: Warm Timber Podcast");
    EXPECT_EQ(vm->selectedSetId(), "timber-podcast");

    vm->selectSet(QStringLiteral("no-such-set"));  // ignored
    EXPECT_EQ(renderer->loadedSets.size(), 3u);
    EXPECT_EQ(vm->selectedSet(), BroadcastStudioSet::timberPodcast);
}

TEST_F(ViewModelTest, OnlySyncCarriesAngleAndGainsToTheRenderer) {
    make();
    vm->setKeyGain(2.0f);
    vm->setNeonGain(0.3f);
    vm->setLedBrightness(1.7f);
    vm->setCameraAngleId(3);
    EXPECT_FLOAT_EQ(renderer->keyLightGain, 1.35f);
    EXPECT_FLOAT_EQ(renderer->neonAccentGain, 1.25f);
    EXPECT_FLOAT_EQ(renderer->ledWallBrightness, 1.15f);
    EXPECT_EQ(renderer->angle, BroadcastCameraAngle::wideDesk);

    vm->sync();
    EXPECT_FLOAT_EQ(renderer->keyLightGain, 2.0f);
    EXPECT_FLOAT_EQ(renderer->neonAccentGain, 0.3f);
    EXPECT_FLOAT_EQ(renderer->ledWallBrightness, 1.7f);
    EXPECT_EQ(renderer->angle, BroadcastCameraAngle::sweepingCrane);

    vm->setCameraAngleId(7);  // not an angle: ignored
    EXPECT_EQ(vm->cameraAngle(), BroadcastCameraAngle::sweepingCrane);
    // Values outside the sliders' ranges are the caller's business, not refused here.
    vm->setKeyGain(9.0f);
    vm->sync();
    EXPECT_FLOAT_EQ(renderer->keyLightGain, 9.0f);
}

TEST_F(ViewModelTest, FrameRateReportsArriveThroughTheMainQueueAndAreDroppedAfterTheViewModel) {
    make();
    renderer->onFPSUpdate(59.5);
    EXPECT_DOUBLE_EQ(vm->liveFPS(), 120.0);  // stored by a task of its own
    platform::drainMainQueue();
    EXPECT_DOUBLE_EQ(vm->liveFPS(), 59.5);
    renderer->onFPSUpdate(61.25);
    platform::drainMainQueue();
    EXPECT_DOUBLE_EQ(vm->liveFPS(), 61.25);  // neither smoothed nor throttled

    renderer->onFPSUpdate(30.0);  // queued while the view model still exists
    vm.reset();
    renderer->onFPSUpdate(31.0);                // reported after it is gone
    EXPECT_EQ(platform::drainMainQueue(), 2u);  // both tasks run and do nothing
}

TEST_F(ViewModelTest, SlideFlowMountsAcceptedImagesOnly) {
    make();
    panels.answers = {std::nullopt};
    vm->loadSlidePanel();
    ASSERT_EQ(panels.openRequests.size(), 1u);
    const auto& request = panels.openRequests[0];
    EXPECT_EQ(request.title, "Select Slide or Demo Graphic for 3D LED Wall");
    ASSERT_EQ(request.allowedTypes.size(), 5u);
    EXPECT_EQ(request.allowedTypes[0].extensions.front(), "png");
    EXPECT_EQ(request.allowedTypes[1].extensions.front(), "jpg");
    EXPECT_EQ(request.allowedTypes[2].extensions.front(), "heic");
    EXPECT_EQ(request.allowedTypes[3].extensions, std::vector<std::string>{"pdf"});
    EXPECT_EQ(request.allowedTypes[4].extensions, (std::vector<std::string>{"mp4", "mov", "mkv", "webm"}));
    EXPECT_TRUE(renderer->imageLoads.empty());  // cancelled: nothing happens
    EXPECT_FALSE(vm->hasStatusBanner());

    panels.answers = {std::filesystem::path("/slides/keynote.png")};
    vm->loadSlidePanel();
    ASSERT_EQ(renderer->imageLoads.size(), 1u);
    EXPECT_EQ(renderer->imageLoads[0], std::filesystem::path("/slides/keynote.png"));
    EXPECT_EQ(vm->slideName(), "keynote.png");
    EXPECT_EQ(vm->statusBannerText(), "Mounted keynote.png onto 3D LED Wall");

    renderer->acceptImages = false;
    panels.answers = {std::filesystem::path("/slides/notes.txt")};
    vm->loadSlidePanel();
    EXPECT_EQ(renderer->imageLoads.size(), 2u);
    EXPECT_EQ(vm->slideName(), "keynote.png");  // refused: the wall keeps its picture
    EXPECT_EQ(vm->statusBannerText(), "Could not load notes.txt onto the LED Wall");
}

TEST_F(ViewModelTest, ExportProposesANamePerSetAndAsksForAnMP4) {
    make();
    EXPECT_EQ(vm->proposedExportName(), "Vantry_manhattan-loft_1080p.mp4");
    vm->exportBroadcastMP4Panel();  // cancelled
    ASSERT_EQ(panels.saveRequests.size(), 1u);
    EXPECT_EQ(panels.saveRequests[0].title, "Export 1080p Studio Broadcast MP4");
    EXPECT_EQ(panels.saveRequests[0].proposedName, "Vantry_manhattan-loft_1080p.mp4");
    ASSERT_EQ(panels.saveRequests[0].allowedTypes.size(), 1u);
    EXPECT_EQ(panels.saveRequests[0].allowedTypes[0].extensions, std::vector<std::string>{"mp4"});
    EXPECT_FALSE(vm->isExporting());
    EXPECT_TRUE(renderer->exports.empty());
    EXPECT_FALSE(vm->hasStatusBanner());

    vm->selectSet(BroadcastStudioSet::keynoteArena);
    vm->exportBroadcastMP4Panel();
    EXPECT_EQ(panels.saveRequests[1].proposedName, "Vantry_keynote-arena_1080p.mp4");
    vm->selectSet(BroadcastStudioSet::timberPodcast);
    EXPECT_EQ(vm->proposedExportName(), "Vantry_timber-podcast_1080p.mp4");
}

TEST_F(ViewModelTest, ExportRunsInTheBackgroundAndReportsTheSize) {
    make();
    renderer->holdExports = true;
    renderer->exportBytes = 1572864;
    panels.answers = {std::filesystem::path("/tmp/out/clip.mp4")};
    vm->exportBroadcastMP4Panel();
    EXPECT_TRUE(vm->isExporting());  // returned at once, export still running
    ASSERT_TRUE(renderer->waitUntilRunning(1));
    {
        std::lock_guard<std::mutex> lock(renderer->mutex);
        ASSERT_EQ(renderer->exports.size(), 1u);
        EXPECT_EQ(renderer->exports[0].width, 1920);
        EXPECT_EQ(renderer->exports[0].height, 1080);
        EXPECT_DOUBLE_EQ(renderer->exports[0].durationSec, 3.0);
        EXPECT_EQ(renderer->exports[0].destination, std::filesystem::path("/tmp/out/clip.mp4"));
    }
    platform::drainMainQueue();
    EXPECT_DOUBLE_EQ(vm->exportProgress(), 0.5);  // 45 of 90 frames
    EXPECT_TRUE(vm->isExporting());

    renderer->releaseExports();
    waitForExportEnd();
    EXPECT_EQ(vm->statusBannerText(), "Exported 1080p Studio Broadcast (1.5 MB)");

    renderer->exportBytes = 3670016;
    panels.answers = {std::filesystem::path("/tmp/out/clip2.mp4")};
    vm->exportBroadcastMP4Panel();
    waitForExportEnd();
    EXPECT_EQ(vm->statusBannerText(), "Exported 1080p Studio Broadcast (3.5 MB)");
}

TEST_F(ViewModelTest, AFailedExportSaysWhyInsteadOfReportingASize) {
    make();
    struct Case {
        bool throws;
        std::int64_t bytes;
        const char* banner;
    };
    const Case cases[] = {
        {true, 999999, "Export failed: cannot write there"},
        {false, 0, "Export failed: the file /read-only/clip.mp4 is empty"},
        {false, 1572864, "Exported 1080p Studio Broadcast (1.5 MB)"},
    };
    for (const Case& c : cases) {
        renderer->exportThrows = c.throws;
        renderer->exportBytes = c.bytes;
        panels.answers = {std::filesystem::path("/read-only/clip.mp4")};
        vm->exportBroadcastMP4Panel();
        waitForExportEnd();
        EXPECT_EQ(vm->statusBannerText(), c.banner);
    }
}

TEST_F(ViewModelTest, AnExportOutlivingTheViewModelIsWaitedForAndItsResultDropped) {
    make();
    renderer->holdExports = true;
    panels.answers = {std::filesystem::path("/tmp/out/late.mp4")};
    vm->exportBroadcastMP4Panel();
    ASSERT_TRUE(renderer->waitUntilRunning(1));
    std::thread releaser([r = renderer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        r->releaseExports();
    });
    vm.reset();  // joins the export
    releaser.join();
    platform::drainMainQueue();  // the completion finds no view model
    SUCCEED();
}

TEST_F(ViewModelTest, WhatAKilledRecordingLeftIsRecoveredAtStartAndTheBannerSaysSo) {
    make();
    QTemporaryDir dir;
    const std::filesystem::path videos = dir.filePath("Videos").toStdString();
    std::filesystem::create_directories(videos);
    // A fragmented MP4 cut inside its second fragment: a header and one whole fragment play.
    const auto box = [](const char* type, std::uint32_t size) {
        std::string b(size, '\0');
        b[2] = char(size >> 8);
        b[3] = char(size);
        b.replace(4, 4, type);
        return b;
    };
    const std::string playable = box("ftyp", 24) + box("moov", 300) + box("moof", 100) + box("mdat", 900);
    std::ofstream(videos / "CreatorRec_1765000000_99.partial.mp4", std::ios::binary)
        << playable + box("moof", 100) + "cut";
    std::ofstream(videos / ".Vantry_x_1080p.mp4.0123456789abcdef.partial") << "an export cut off";

    const QString said = vm->recoverUnfinishedFiles({videos, videos / "absent"});
    EXPECT_EQ(
        said.toStdString(),
        "Recovered an interrupted recording as CreatorRec_1765000000_recovered.mp4; removed 1 unfinished "
        "file that could not be played.");
    EXPECT_EQ(vm->statusBannerText(), said);
    EXPECT_EQ(std::filesystem::file_size(videos / "CreatorRec_1765000000_recovered.mp4"), playable.size());
    EXPECT_FALSE(std::filesystem::exists(videos / ".Vantry_x_1080p.mp4.0123456789abcdef.partial"));
    EXPECT_TRUE(vm->recoverUnfinishedFiles({videos}).isEmpty()) << "nothing left the second time";
}

}  // namespace
}  // namespace vantry::app
