// The file camera: a still picture or a looping video played through the facecam feed.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"
#include "platform/camera/FileCameraBackend.h"
#include "platform/video/VideoWriter.h"
#include "tests/support/AwkwardFiles.h"

namespace {

namespace fs = std::filesystem;
using vantry::creator::OruCreatorCameraFeedV1045;
using vantry::creator::OruFacecamBackgroundModeV1045;
using vantry::platform::CameraFrameView;
using vantry::platform::FileCameraBackend;
using vantry::platform::kMaxCameraVideoBytes;
using vantry::platform::readCameraPicture;

struct Received {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<QImage> frames;

    void add(const CameraFrameView& v) {
        QImage copy(v.pixels, v.width, v.height, v.bytesPerRow, QImage::Format_ARGB32);
        std::lock_guard lock(mutex);
        frames.push_back(copy.copy());
        cv.notify_all();
    }
    bool waitFor(std::size_t n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return frames.size() >= n; });
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return frames.size();
    }
};

class FileCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-file-camera-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // 90 x 60 (not 4:3): left half red, right half blue, so crops and stretches show.
    fs::path writePicture() {
        QImage image(90, 60, QImage::Format_ARGB32);
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 90; ++x) image.setPixel(x, y, x < 45 ? 0xFFFF0000u : 0xFF0000FFu);
        const fs::path path = dir_ / "still.png";
        EXPECT_TRUE(image.save(QString::fromStdString(path.string())));
        return path;
    }

    // Frame i is a flat grey of level 20 + 40 i, at 10 frames per second, 160 x 96.
    fs::path writeVideo(int frames) {
        const fs::path path = dir_ / "clip.mp4";
        vantry::platform::VideoWriterSettings settings;
        settings.width = 160;
        settings.height = 96;
        settings.fps = 10;
        settings.averageBitRate = 2'000'000;
        vantry::platform::VideoWriter writer(path, settings);
        std::vector<std::uint8_t> pixels(std::size_t(160) * 96 * 4);
        for (int i = 0; i < frames; ++i) {
            const auto level = std::uint8_t(20 + 40 * i);
            for (std::size_t p = 0; p < pixels.size(); p += 4) {
                pixels[p] = pixels[p + 1] = pixels[p + 2] = level;
                pixels[p + 3] = 255;
            }
            writer.appendBGRA(pixels.data(), 160 * 4, i);
        }
        writer.finish();
        return path;
    }

    fs::path dir_;
};

int centreGrey(const CameraFrameView& v) {
    return v.pixels[std::size_t(v.height / 2) * v.bytesPerRow + std::size_t(v.width / 2) * 4 + 1];
}

TEST_F(FileCameraTest, StillPictureRepeatsAtThirtyFramesPerSecondAtItsOwnSize) {
    auto source = vantry::platform::openCameraFileSource(writePicture());
    EXPECT_DOUBLE_EQ(source->frameInterval(), 1.0 / 30.0);
    for (int i = 0; i < 3; ++i) {
        CameraFrameView v;
        ASSERT_TRUE(source->nextFrame(v));
        EXPECT_EQ(v.width, 90);
        EXPECT_EQ(v.height, 60);
        // B, G, R, A bytes: red on the left, blue on the right.
        EXPECT_EQ(v.pixels[2], 255);
        EXPECT_EQ(v.pixels[0], 0);
        EXPECT_EQ(v.pixels[89 * 4 + 0], 255);
        EXPECT_EQ(v.pixels[89 * 4 + 2], 0);
    }
}

// 8000 x 6000 is more than the image reader may allocate whole; it plays scaled to the limit.
TEST_F(FileCameraTest, PictureLargerThanACameraIsScaledDownKeepingItsAspect) {
    QImage image(8000, 6000, QImage::Format_RGB888);
    image.fill(QColor(0, 200, 0));
    const fs::path path = dir_ / "huge.png";
    ASSERT_TRUE(image.save(QString::fromStdString(path.string()), "PNG", 90));
    image = QImage();
    auto source = vantry::platform::openCameraFileSource(path);
    CameraFrameView v;
    ASSERT_TRUE(source->nextFrame(v));
    EXPECT_EQ(v.width, FileCameraBackend::kMaxPictureSide);
    EXPECT_EQ(v.height, FileCameraBackend::kMaxPictureSide * 3 / 4);
    EXPECT_EQ(centreGrey(v), 200);
}

TEST_F(FileCameraTest, VideoLoopsAtItsOwnFrameRate) {
    auto source = vantry::platform::openCameraFileSource(writeVideo(4));
    EXPECT_NEAR(source->frameInterval(), 0.1, 1e-9);
    std::vector<int> greys;
    for (int i = 0; i < 9; ++i) {
        CameraFrameView v;
        ASSERT_TRUE(source->nextFrame(v)) << "frame " << i;
        EXPECT_EQ(v.width, 160);
        EXPECT_EQ(v.height, 96);
        greys.push_back(centreGrey(v));
    }
    // 4 frames, then the same 4 again, then the first once more.
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(greys[i], 20 + 40 * (i % 4), 6) << "frame " << i;
}

TEST_F(FileCameraTest, UnreadableFilesAreNoCamera) {
    std::ofstream(dir_ / "garbage.mp4") << "this is not a video";
    fs::create_directories(dir_ / "folder.png");
    for (const fs::path& path : {dir_ / "missing.png", dir_ / "garbage.mp4", dir_ / "folder.png"}) {
        FileCameraBackend camera(path);
        EXPECT_FALSE(camera.addCameraInput()) << path;
        EXPECT_FALSE(camera.openError().empty()) << path;
    }
}

// Camera files are checked, without blocking, before FFmpeg or Qt opens them.
TEST_F(FileCameraTest, PipesDevicesFoldersAndOversizedFilesAreRefusedWithTheReason) {
    auto files = vantry::testing::makeAwkwardFiles(dir_ / "awkward", "camera.mp4", kMaxCameraVideoBytes);
    std::ofstream(dir_ / "empty.mp4").flush();
    files.push_back({"an empty file", "it is empty", dir_ / "empty.mp4"});
    for (const auto& file : files) {
        FileCameraBackend camera(file.path);
        EXPECT_FALSE(camera.addCameraInput()) << file.what;
        EXPECT_NE(camera.openError().find(file.reason), std::string::npos)
            << file.what << ": " << camera.openError();
        try {
            (void)readCameraPicture(file.path);
            ADD_FAILURE() << file.what;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(file.reason), std::string::npos) << e.what();
        }
    }
}

TEST_F(FileCameraTest, DeliversWhileRunningOnlyAndStopsOnDestruction) {
    Received received;
    {
        FileCameraBackend camera(writePicture());
        ASSERT_TRUE(camera.addCameraInput());
        camera.addFrameOutput([&](const CameraFrameView& v) { received.add(v); });
        camera.startRunning();
        ASSERT_TRUE(received.waitFor(3));
        camera.stopRunning();
        const std::size_t afterStop = received.count();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_LE(received.count(), afterStop + 1);  // at most the frame already in hand
        camera.startRunning();
        ASSERT_TRUE(received.waitFor(afterStop + 3));
    }
    const std::size_t afterDestruction = received.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(received.count(), afterDestruction);
}

TEST_F(FileCameraTest, FeedOverAFileShowsItUnstretchedOrFallsBackToThePreview) {
    struct Outcome {
        std::mutex mutex;
        std::condition_variable cv;
        std::optional<std::pair<bool, std::string>> started;
        QImage frame;
    };
    for (const bool readable : {true, false}) {
        auto outcome = std::make_shared<Outcome>();
        const fs::path file = readable ? writePicture() : dir_ / "missing.mp4";
        OruCreatorCameraFeedV1045 feed(std::make_shared<FileCameraBackend>(file), nullptr);
        feed.updateSettings(OruFacecamBackgroundModeV1045::fullCamera, true);
        feed.setOnFrameReady([outcome](const QImage& image) {
            std::lock_guard lock(outcome->mutex);
            if (outcome->frame.isNull()) outcome->frame = image;
            outcome->cv.notify_all();
        });
        feed.start([outcome](bool ok, const std::string& message) {
            std::lock_guard lock(outcome->mutex);
            outcome->started.emplace(ok, message);
            outcome->cv.notify_all();
        });
        std::unique_lock lock(outcome->mutex);
        ASSERT_TRUE(outcome->cv.wait_for(lock, std::chrono::seconds(20),
                                         [&] { return outcome->started.has_value(); }));
        if (!readable) {
            EXPECT_FALSE(outcome->started->first);
            EXPECT_EQ(outcome->started->second, OruCreatorCameraFeedV1045::kNoCameraMessage);
            continue;
        }
        EXPECT_TRUE(outcome->started->first);
        EXPECT_EQ(outcome->started->second, OruCreatorCameraFeedV1045::kLiveMessage);
        ASSERT_TRUE(
            outcome->cv.wait_for(lock, std::chrono::seconds(20), [&] { return !outcome->frame.isNull(); }));
        EXPECT_EQ(outcome->frame.size(), QSize(90, 60));
        // Mirrored: blue now on the left.
        EXPECT_EQ(qBlue(outcome->frame.pixel(0, 30)), 255);
        EXPECT_EQ(qRed(outcome->frame.pixel(89, 30)), 255);
    }
}

TEST_F(FileCameraTest, FeedsDestroyedWhileFramesArriveCallNobodyAfterwards) {
    const fs::path file = writeVideo(3);
    for (int round = 0; round < 6; ++round) {
        auto frames = std::make_shared<std::atomic<int>>(0);
        auto alive = std::make_shared<std::atomic<bool>>(true);
        {
            OruCreatorCameraFeedV1045 feed(std::make_shared<FileCameraBackend>(file), nullptr);
            feed.updateSettings(OruFacecamBackgroundModeV1045::fullCamera, round % 2 == 0);
            feed.setOnFrameReady([frames, alive](const QImage& image) {
                EXPECT_TRUE(alive->load()) << "a frame reached a destroyed feed's consumer";
                EXPECT_EQ(image.size(), QSize(160, 96));
                ++*frames;
            });
            feed.start(nullptr);
            for (int i = 0; i < 400 && frames->load() < 2 + round; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_GE(frames->load(), 1);
        }
        alive->store(false);  // the feed is gone: its queue has stopped
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
    }
}

TEST_F(FileCameraTest, DefaultCameraIsTheChosenFileUntilCleared) {
    const fs::path file = writePicture();
    vantry::platform::setDefaultCameraFile(file);
    auto chosen = std::dynamic_pointer_cast<FileCameraBackend>(vantry::platform::makeDefaultCameraBackend());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->file(), file);
    vantry::platform::setDefaultCameraFile({});
    EXPECT_FALSE(std::dynamic_pointer_cast<FileCameraBackend>(vantry::platform::makeDefaultCameraBackend()));
}

}  // namespace
