// The LED wall's sources in the view model: deck pages and their steps, refused decks, videos
// and screen shares from fake feeds, and shots that keep each kind of source.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/studio-app/VantryViewModel.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/wall-feed/WallFeed.h"
#include "tests/app/studio/FakeStudioRenderer.h"
#include "tests/support/AwkwardFiles.h"
#include "tests/support/FakeWallFeeds.h"
#include "tests/support/MadeUpPdf.h"
#include "tests/support/SoundWithoutDevices.h"
#include "tests/support/Wait.h"

namespace vantry::app {
namespace {

using testing::FakeStudioRenderer;
using testing::nearColour;
using Kind = platform::wall::ScreenShareTarget::Kind;

const std::vector<QColor> kPageColours{QColor(220, 30, 30), QColor(30, 200, 40), QColor(30, 40, 220)};

class WallSourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Fake feeds and decks drawn in memory need no X display: Qt's offscreen platform, whose
        // threads ThreadSanitizer can follow (the xcb platform's event queue it cannot).
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        testing::pdfWritingApplication();
        ASSERT_TRUE(dir_.isValid());
        // Shots, settings and the share's token go into a folder of the test's own.
        ::setenv("XDG_CONFIG_HOME", dir_.path().toUtf8().constData(), 1);
        folder_ = std::filesystem::path(dir_.path().toStdString());
        deck_ = folder_ / "talk.pdf";
        std::vector<testing::MadeUpPage> pages;
        for (const QColor& c : kPageColours) pages.push_back({c});
        testing::writeMadeUpPdf(deck_, pages);
        picture_ = folder_ / "wall.png";
        testing::writeBytes(picture_, "picture");
        video_ = folder_ / "loop.mp4";
        testing::writeBytes(video_, "video");
        platform::drainMainQueue();
        vm = std::make_unique<VantryViewModel>(renderer, nullptr, feeds.feeds(), sound);
    }
    void TearDown() override {
        vm.reset();
        platform::drainMainQueue();
    }

    // The wall's last live picture is page `page` (from 1) of the deck; waits for it (bounded).
    bool wallShowsPage(int page) {
        return testing::waitUntil(
            [&] {
                const auto last = renderer->lastWallPicture();
                return !last.picture.isNull() && last.name == "talk.pdf" &&
                       nearColour(last.picture.pixel(640, 360), kPageColours[std::size_t(page - 1)]);
            },
            10);
    }

    QTemporaryDir dir_;
    std::filesystem::path folder_, deck_, picture_, video_;
    std::shared_ptr<FakeStudioRenderer> renderer = std::make_shared<FakeStudioRenderer>();
    testing::FakeWallFeeds feeds;
    std::shared_ptr<platform::ProgrammeSound> sound = testing::soundWithoutDevices();
    std::unique_ptr<VantryViewModel> vm;
};

TEST_F(WallSourcesTest, ADeckShowsItsPagesAndStepsStopAtTheEnds) {
    ASSERT_TRUE(vm->mountSlide(deck_));
    EXPECT_EQ(vm->wallKindName(), "pdf");
    EXPECT_EQ(vm->slidePage(), 1);
    EXPECT_EQ(vm->slideCount(), 3);
    EXPECT_EQ(vm->slideName(), "talk.pdf");
    EXPECT_EQ(vm->statusBannerText(), "Mounted talk.pdf onto 3D LED Wall");
    ASSERT_TRUE(wallShowsPage(1));
    const auto last = renderer->lastWallPicture();
    EXPECT_EQ(last.picture.size(),
              QSize(platform::wall::kLivePictureWidth, platform::wall::kLivePictureHeight));

    const struct {
        const char* step;
        std::function<bool(VantryViewModel&)> run;
        bool moves;
        int page;
    } steps[] = {
        {"next", [](VantryViewModel& v) { return v.nextSlide(); }, true, 2},
        {"next", [](VantryViewModel& v) { return v.nextSlide(); }, true, 3},
        {"next past the end", [](VantryViewModel& v) { return v.nextSlide(); }, false, 3},
        {"last on the last", [](VantryViewModel& v) { return v.lastSlide(); }, false, 3},
        {"previous", [](VantryViewModel& v) { return v.previousSlide(); }, true, 2},
        {"first", [](VantryViewModel& v) { return v.firstSlide(); }, true, 1},
        {"previous before the start", [](VantryViewModel& v) { return v.previousSlide(); }, false, 1},
        {"page 3", [](VantryViewModel& v) { return v.setSlidePage(3); }, true, 3},
        {"page 0", [](VantryViewModel& v) { return v.setSlidePage(0); }, false, 3},
        {"page 4", [](VantryViewModel& v) { return v.setSlidePage(4); }, false, 3},
        {"last", [](VantryViewModel& v) { return v.firstSlide() && v.lastSlide(); }, true, 3},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        const std::size_t before = renderer->wallPictureCount();
        EXPECT_EQ(s.run(*vm), s.moves);
        EXPECT_EQ(vm->slidePage(), s.page);
        if (s.moves) {
            EXPECT_TRUE(wallShowsPage(s.page));
        } else {
            EXPECT_EQ(renderer->wallPictureCount(), before) << "a step that does not move shows nothing";
        }
    }
    // The deck's name stays on the wall; a picture then ends the deck and its steps.
    ASSERT_TRUE(vm->mountSlide(picture_));
    EXPECT_EQ(vm->wallKindName(), "picture");
    EXPECT_EQ(vm->slidePage(), 1);
    EXPECT_EQ(vm->slideCount(), 1);
    EXPECT_FALSE(vm->nextSlide());
}

// A file whose kind the caller found (a command line looks into the file) mounts as that kind,
// whatever its name; a deck starts at the page asked for, kept within its pages, and shows no
// other page first.
TEST_F(WallSourcesTest, AFileOfAKnownKindMountsAsThatKindAndADeckAtItsPage) {
    const std::filesystem::path unnamed = folder_ / "talk";
    std::filesystem::copy_file(deck_, unnamed);
    ASSERT_TRUE(vm->mountSlide(unnamed, shots::WallKind::pdf, 2));
    EXPECT_EQ(vm->wallKindName(), "pdf");
    EXPECT_EQ(vm->slidePage(), 2);
    EXPECT_EQ(vm->slideCount(), 3);
    EXPECT_EQ(vm->slideName(), "talk");
    EXPECT_EQ(vm->statusBannerText(), "Mounted talk onto 3D LED Wall");
    ASSERT_TRUE(testing::waitUntil([&] { return renderer->wallPictureCount() > 0; }, 10));
    const auto first = renderer->lastWallPicture();
    EXPECT_EQ(renderer->wallPictureCount(), 1u);
    EXPECT_TRUE(nearColour(first.picture.pixel(640, 360), kPageColours[1]));

    ASSERT_TRUE(vm->mountSlide(deck_, shots::WallKind::pdf, 9));
    EXPECT_EQ(vm->slidePage(), 3);
    EXPECT_TRUE(wallShowsPage(3));
    ASSERT_TRUE(vm->mountSlide(video_, shots::WallKind::video, 1));
    EXPECT_EQ(vm->wallKindName(), "video");
    for (const shots::WallKind notAFile : {shots::WallKind::builtIn, shots::WallKind::screen}) {
        EXPECT_FALSE(vm->mountSlide(picture_, notAFile, 1));
        EXPECT_EQ(vm->wallKindName(), "video");
    }
}

TEST_F(WallSourcesTest, ARefusedDeckChangesNothing) {
    ASSERT_TRUE(vm->mountSlide(picture_));
    const std::string damaged = "%PDF-1.4\n1 0 obj\n<< /Type /Cat\x01\x02";
    const struct {
        const char* what;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"damaged", damaged, "is not a readable PDF file"},
        {"empty", "", "is not a readable PDF file"},
        {"password-protected", testing::passwordProtectedPdf("secret"), "is protected by a password"},
        {"a page too large", testing::handWrittenPdf(testing::onePageObjects("[0 0 14400 14400]"), ""),
         "too large for the wall"},
    };
    std::vector<std::pair<std::string, std::filesystem::path>> files;
    for (const auto& c : cases) {
        const auto file = folder_ / (std::string(c.what) + ".pdf");
        testing::writeBytes(file, c.bytes);
        files.emplace_back(c.says, file);
    }
    for (const auto& awkward : testing::makeAwkwardFiles(folder_ / "awkward", "deck.pdf", 256u << 20, true)) {
        files.emplace_back(awkward.reason, awkward.path);
    }
    for (const auto& [says, file] : files) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_FALSE(vm->mountSlide(file));
        EXPECT_NE(vm->statusBannerText().toStdString().find(says), std::string::npos)
            << vm->statusBannerText().toStdString();
        EXPECT_EQ(vm->wallKindName(), "picture");
        EXPECT_EQ(vm->slideName(), "wall.png");
        EXPECT_EQ(vm->wallFile(), picture_);
    }
    EXPECT_EQ(renderer->wallPictureCount(), 0u);
}

TEST_F(WallSourcesTest, AVideoPlaysOntoTheWallUntilAnotherSourceTakesIt) {
    ASSERT_TRUE(vm->mountSlide(video_));
    EXPECT_EQ(feeds.openedVideos, std::vector<std::filesystem::path>{video_});
    EXPECT_EQ(vm->wallKindName(), "video");
    EXPECT_EQ(vm->slideName(), "loop.mp4");
    EXPECT_EQ(vm->statusBannerText(), "Mounted loop.mp4 onto 3D LED Wall");
    QImage frame(platform::wall::kLivePictureWidth, platform::wall::kLivePictureHeight,
                 QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::magenta);
    ASSERT_NE(feeds.current(), nullptr);
    feeds.current()->send(frame);
    ASSERT_EQ(renderer->wallPictureCount(), 1u);
    EXPECT_EQ(renderer->lastWallPicture().name, "loop.mp4");

    // A video that does not open leaves the running one on the wall.
    feeds.refuseWith = "it has no video";
    EXPECT_FALSE(vm->mountSlide(folder_ / "other.webm"));
    EXPECT_EQ(vm->statusBannerText(), "Could not load other.webm onto the LED Wall: it has no video");
    EXPECT_TRUE(feeds.running());
    feeds.refuseWith.clear();
    feeds.current()->send(frame);
    EXPECT_EQ(renderer->wallPictureCount(), 2u);

    // A picture frame that comes while a picture loads never covers the picture; while one that
    // fails to load, the video goes on.
    renderer->duringImageLoad = [&] { feeds.current()->send(frame); };
    renderer->acceptImages = false;
    EXPECT_FALSE(vm->mountSlide(picture_));
    renderer->acceptImages = true;
    EXPECT_EQ(renderer->wallPictureCount(), 2u);
    feeds.current()->send(frame);
    EXPECT_EQ(renderer->wallPictureCount(), 3u);
    EXPECT_TRUE(feeds.running());
    ASSERT_TRUE(vm->mountSlide(picture_));
    renderer->duringImageLoad = nullptr;
    EXPECT_EQ(renderer->wallPictureCount(), 3u);
    EXPECT_FALSE(feeds.running());
    ASSERT_TRUE(vm->mountSlide(video_));

    // A deck takes the wall: the video stops.
    ASSERT_TRUE(vm->mountSlide(deck_));
    EXPECT_FALSE(feeds.running());
    EXPECT_TRUE(wallShowsPage(1));
}

// The video's sound plays into the view model's own programme sound while the video is on the
// wall, and falls silent when another source takes it.
TEST_F(WallSourcesTest, AVideosSoundPlaysIntoTheViewModelsProgrammeSound) {
    struct Silence : audio::SoundFeed {
        int read(float*, float*, int) override { return 0; }
    };
    feeds.sound = std::make_shared<Silence>();
    ASSERT_TRUE(vm->mountSlide(video_));
    EXPECT_EQ(sound->wallVideoSound(), feeds.sound);
    ASSERT_TRUE(vm->mountSlide(picture_));
    EXPECT_EQ(sound->wallVideoSound(), nullptr);
}

TEST_F(WallSourcesTest, AShareEndsWithItsMessageAndTheWallKeepsItsLastPicture) {
    feeds.windows = {{0x4a00001, "Slides - Editor"}};
    const QVariantList windows = vm->shareableWindows();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0].toMap().value("title").toString(), "Slides - Editor");
    feeds.screenName = "Slides - Editor";
    ASSERT_TRUE(vm->shareWindow(0x4a00001, "Slides - Editor"));
    ASSERT_EQ(feeds.shareTargets.size(), 1u);
    EXPECT_EQ(feeds.shareTargets[0].kind, Kind::window);
    EXPECT_EQ(feeds.shareTargets[0].windowId, 0x4a00001u);
    EXPECT_EQ(vm->wallKindName(), "screen");
    EXPECT_TRUE(vm->screenSharing());
    EXPECT_EQ(vm->slideName(), "Slides - Editor");
    EXPECT_EQ(vm->statusBannerText(), "Sharing Slides - Editor onto 3D LED Wall");
    QImage frame(platform::wall::kLivePictureWidth, platform::wall::kLivePictureHeight,
                 QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::cyan);
    feeds.current()->send(frame);

    feeds.current()->end("The shared window was closed");
    platform::drainMainQueue();
    EXPECT_FALSE(vm->screenSharing());
    EXPECT_FALSE(feeds.running());
    EXPECT_EQ(vm->statusBannerText(), "The shared window was closed");
    EXPECT_EQ(vm->slideName(), "Slides - Editor");
    EXPECT_EQ(renderer->builtInWalls, 0) << "the wall keeps the share's last picture";
    EXPECT_EQ(renderer->wallPictureCount(), 1u);
    EXPECT_FALSE(vm->stopScreenShare());

    // A share the user stops puts the built-in wall back.
    ASSERT_TRUE(vm->shareScreen());
    EXPECT_EQ(feeds.shareTargets.back().kind, Kind::screen);
    EXPECT_TRUE(vm->stopScreenShare());
    EXPECT_FALSE(feeds.running());
    EXPECT_EQ(vm->wallKindName(), "builtIn");
    EXPECT_EQ(renderer->builtInWalls, 1);
    EXPECT_EQ(vm->statusBannerText(), "Stopped sharing onto 3D LED Wall");

    // A share that does not start changes nothing.
    ASSERT_TRUE(vm->mountSlide(picture_));
    feeds.refuseWith = "the portal dialog was cancelled";
    EXPECT_FALSE(vm->shareScreen());
    EXPECT_EQ(vm->statusBannerText(), "Could not share the screen: the portal dialog was cancelled");
    EXPECT_EQ(vm->wallKindName(), "picture");
}

TEST_F(WallSourcesTest, ThePortalsRestoreTokenIsKeptForTheNextShare) {
    feeds.portal = true;
    feeds.restoreToken = "token-1";
    ASSERT_TRUE(vm->shareScreen());
    EXPECT_EQ(feeds.shareTargets.back().kind, Kind::portal);
    EXPECT_EQ(feeds.shareTargets.back().restoreToken, "");
    EXPECT_TRUE(vm->stopScreenShare());
    // Another run of the window finds it.
    vm = std::make_unique<VantryViewModel>(renderer, nullptr, feeds.feeds(), sound);
    ASSERT_TRUE(vm->shareScreen());
    EXPECT_EQ(feeds.shareTargets.back().restoreToken, "token-1");
}

TEST_F(WallSourcesTest, AShotKeepsTheWallsSource) {
    feeds.portal = true;
    feeds.restoreToken = "token-1";
    const struct {
        const char* what;
        std::function<void()> show;
        std::function<void()> check;
    } cases[] = {
        {"a picture", [&] { ASSERT_TRUE(vm->mountSlide(picture_)); },
         [&] {
             EXPECT_EQ(vm->wallKindName(), "picture");
             EXPECT_EQ(vm->wallFile(), picture_);
         }},
        {"a deck's page",
         [&] {
             ASSERT_TRUE(vm->mountSlide(deck_));
             ASSERT_TRUE(vm->setSlidePage(2));
         },
         [&] {
             EXPECT_EQ(vm->wallKindName(), "pdf");
             EXPECT_EQ(vm->slidePage(), 2);
             EXPECT_TRUE(wallShowsPage(2));
         }},
        {"a video", [&] { ASSERT_TRUE(vm->mountSlide(video_)); },
         [&] {
             EXPECT_EQ(vm->wallKindName(), "video");
             EXPECT_TRUE(feeds.running());
             EXPECT_EQ(feeds.openedVideos.back(), video_);
         }},
        {"a screen share", [&] { ASSERT_TRUE(vm->shareScreen()); },
         [&] {
             EXPECT_TRUE(vm->screenSharing());
             EXPECT_EQ(feeds.shareTargets.back().restoreToken, "token-1");
         }},
        {"the built-in wall", [&] { vm->stopScreenShare(); },
         [&] { EXPECT_EQ(vm->wallKindName(), "builtIn"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.show();
        ASSERT_TRUE(vm->shots().saveCurrent(QString::fromUtf8(c.what)));
    }
    // Saved to the file and read back by the next run of the window.
    vm = std::make_unique<VantryViewModel>(renderer, nullptr, feeds.feeds(), sound);
    ASSERT_EQ(vm->shots().count(), 5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(cases[i].what);
        // From another source each time: a deck's first page, or the built-in wall after it.
        if (i == 1) {
            ASSERT_TRUE(vm->mountSlide(picture_));
        } else {
            ASSERT_TRUE(vm->mountSlide(deck_));
        }
        ASSERT_TRUE(vm->shots().recallShot(i));
        cases[i].check();
    }
}

TEST_F(WallSourcesTest, AScreenShotNeedsTheWindowWithoutAToken) {
    ASSERT_TRUE(vm->shareScreen());
    ASSERT_TRUE(vm->shots().saveCurrent("Shared"));
    ASSERT_TRUE(vm->mountSlide(picture_));
    const std::size_t shares = feeds.shareTargets.size();
    ASSERT_TRUE(vm->shots().recallShot(0));
    EXPECT_EQ(feeds.shareTargets.size(), shares) << "no share starts without the portal's token";
    EXPECT_NE(vm->statusBannerText().toStdString().find("its screen share needs the window"),
              std::string::npos)
        << vm->statusBannerText().toStdString();
    EXPECT_EQ(vm->wallKindName(), "picture");
}

}  // namespace
}  // namespace vantry::app
