#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"
#include "tests/creator/studio-overlay/FakeDevices.h"

using namespace vantry::creator;
using vantry::platform::CameraAuthorization;
using vantry::testing::FakeCamera;
using vantry::testing::FakeSegmenter;
using Feed = OruCreatorCameraFeedV1045;
using Mode = OruFacecamBackgroundModeV1045;

namespace {

constexpr auto kWait = std::chrono::seconds(10);

struct Outcome {
    bool success;
    std::string message;
};

// Starts the feed and waits for its completion.
Outcome startAndWait(Feed& feed) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto future = promise->get_future();
    feed.start([promise](bool ok, const std::string& message) { promise->set_value({ok, message}); });
    if (future.wait_for(kWait) != std::future_status::ready) return {false, "<no completion>"};
    return future.get();
}

// Collects finished pictures; waitFor(n) blocks until n have arrived.
struct FrameLog {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<QImage> images;

    Feed::FrameCallback callback() {
        return [this](const QImage& image) {
            std::lock_guard lock(mutex);
            images.push_back(image);
            arrived.notify_all();
        };
    }
    bool waitFor(std::size_t n) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, kWait, [&] { return images.size() >= n; });
    }
};

cv::Mat solidFrame(uchar red) {
    return cv::Mat(24, 32, CV_8UC4, cv::Scalar(10, 20, red, 255));
}

std::optional<cv::Mat> everyonePerson(const cv::Mat&) {
    return cv::Mat(8, 8, CV_8UC1, cv::Scalar(255));
}
std::optional<cv::Mat> nobody(const cv::Mat&) {
    return cv::Mat(8, 8, CV_8UC1, cv::Scalar(0));
}

struct Rig {
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>();
    FakeSegmenter* segmenter = nullptr;
    std::unique_ptr<Feed> feed;

    Rig() {
        auto seg = std::make_unique<FakeSegmenter>();
        segmenter = seg.get();
        auto holder = std::make_shared<std::unique_ptr<FakeSegmenter>>(std::move(seg));
        feed = std::make_unique<Feed>(
            camera,
            [holder]() -> std::unique_ptr<vantry::platform::PersonSegmenter> { return std::move(*holder); });
    }
};

}  // namespace

TEST(CameraFeed, StartingTwiceConfiguresOnceAndReportsLiveBothTimes) {
    Rig rig;
    const Outcome first = startAndWait(*rig.feed);
    EXPECT_TRUE(first.success);
    EXPECT_EQ(first.message, "Live Camera Active");
    const Outcome second = startAndWait(*rig.feed);
    EXPECT_TRUE(second.success);
    EXPECT_EQ(second.message, "Live Camera Active");
    EXPECT_EQ(rig.camera->inputAttempts, 1);
    EXPECT_EQ(rig.camera->outputsAdded, 1);
    EXPECT_EQ(rig.camera->starts, 1);
}

TEST(CameraFeed, StopThenStartRestartsWithoutReconfiguring) {
    Rig rig;
    ASSERT_TRUE(startAndWait(*rig.feed).success);
    rig.feed->stop();
    rig.feed->stop();  // not running any more: nothing to stop
    ASSERT_TRUE(startAndWait(*rig.feed).success);
    EXPECT_EQ(rig.camera->stops, 1);
    EXPECT_EQ(rig.camera->starts, 2);
    EXPECT_EQ(rig.camera->inputAttempts, 1);
}

TEST(CameraFeed, StartFailuresEndInTheirMessages) {
    {
        Rig rig;
        rig.camera->authorization = CameraAuthorization::restricted;
        const Outcome o = startAndWait(*rig.feed);
        EXPECT_FALSE(o.success);
        EXPECT_EQ(o.message, "Camera restricted — using Studio Preview");
        EXPECT_EQ(rig.camera->inputAttempts, 0);
    }
    {
        Rig rig;
        rig.camera->authorization = CameraAuthorization::denied;
        EXPECT_EQ(startAndWait(*rig.feed).message, "Camera restricted — using Studio Preview");
    }
    {
        Rig rig;
        rig.camera->authorization = CameraAuthorization::notDetermined;
        rig.camera->grantAccess = false;
        const Outcome o = startAndWait(*rig.feed);
        EXPECT_FALSE(o.success);
        EXPECT_EQ(o.message, "Camera permission denied — using Studio Preview");
        EXPECT_EQ(rig.camera->inputAttempts, 0);
    }
    {
        Rig rig;
        rig.camera->authorization = CameraAuthorization::notDetermined;
        EXPECT_EQ(startAndWait(*rig.feed).message, "Live Camera Active");
    }
    {
        Rig rig;
        rig.camera->inputAvailable = false;
        const Outcome o = startAndWait(*rig.feed);
        EXPECT_FALSE(o.success);
        EXPECT_EQ(o.message, "No front camera detected — using Studio Preview");
        EXPECT_EQ(rig.camera->starts, 0);
        // Still unconfigured: the next start tries again.
        rig.camera->inputAvailable = true;
        EXPECT_TRUE(startAndWait(*rig.feed).success);
        EXPECT_EQ(rig.camera->inputAttempts, 2);
    }
    {
        Rig rig;
        rig.camera->outputAddable = false;  // counts as configured; no frames will come
        EXPECT_EQ(startAndWait(*rig.feed).message, "Live Camera Active");
        EXPECT_EQ(rig.camera->starts, 1);
        EXPECT_FALSE(rig.camera->deliver(solidFrame(1)));
    }
}

TEST(CameraFeed, FramesFromTheCameraArriveFinishedOnTheCallback) {
    Rig rig;
    rig.segmenter->makeMask = everyonePerson;
    FrameLog log;
    rig.feed->setOnFrameReady(log.callback());
    ASSERT_TRUE(startAndWait(*rig.feed).success);
    ASSERT_TRUE(rig.camera->deliver(solidFrame(200)));
    ASSERT_TRUE(log.waitFor(1));
    const QImage& image = log.images[0];
    EXPECT_EQ(image.size(), QSize(32, 24));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(image.pixel(5, 5), qRgba(200, 20, 10, 255));
    EXPECT_TRUE(rig.feed->segmentationError().empty());
}

TEST(CameraFeed, ChangingTheModeAffectsTheNextFrameOnly) {
    Rig rig;
    rig.segmenter->makeMask = nobody;
    FrameLog log;
    rig.feed->setOnFrameReady(log.callback());
    rig.feed->updateSettings(Mode::cutoutNoBackground, true);

    rig.segmenter->hold();
    rig.feed->captureOutput({solidFrame(100).data, 32, 24, 32 * 4});
    rig.segmenter->waitUntilEntered();
    // The frame in progress copied the cutout setting; switching now must not change it.
    rig.feed->updateSettings(Mode::fullCamera, false);
    rig.segmenter->release();
    ASSERT_TRUE(log.waitFor(1));
    EXPECT_EQ(qAlpha(log.images[0].pixel(3, 3)), 0);

    const cv::Mat next = solidFrame(150);
    rig.feed->captureOutput({next.data, 32, 24, 32 * 4});
    ASSERT_TRUE(log.waitFor(2));
    EXPECT_EQ(log.images[1].pixel(3, 3), qRgba(150, 20, 10, 255));
    EXPECT_EQ(rig.segmenter->calls, 1);
}

TEST(CameraFeed, LateFramesAreDroppedNotQueued) {
    Rig rig;
    rig.segmenter->makeMask = everyonePerson;
    FrameLog log;
    rig.feed->setOnFrameReady(log.callback());

    rig.segmenter->hold();
    const cv::Mat first = solidFrame(1);
    rig.feed->captureOutput({first.data, 32, 24, 32 * 4});
    rig.segmenter->waitUntilEntered();
    for (uchar red : {2, 3, 4}) {
        const cv::Mat f = solidFrame(red);
        rig.feed->captureOutput({f.data, 32, 24, 32 * 4});
    }
    rig.segmenter->release();
    ASSERT_TRUE(log.waitFor(2));
    // Give a wrongly queued third frame the chance to show up.
    rig.feed.reset();
    ASSERT_EQ(log.images.size(), 2u);
    EXPECT_EQ(qRed(log.images[0].pixel(0, 0)), 1);
    EXPECT_EQ(qRed(log.images[1].pixel(0, 0)), 4);  // the newest waiting frame won
}

TEST(CameraFeed, ADestroyedFeedIsNeverCalledBack) {
    auto camera = std::make_shared<FakeCamera>();
    camera->authorization = CameraAuthorization::notDetermined;
    camera->deferAccessAnswer = true;
    bool completed = false;
    {
        Feed feed(camera, nullptr);
        feed.start([&](bool, const std::string&) { completed = true; });
    }
    ASSERT_TRUE(camera->pendingAccessHandler);
    camera->pendingAccessHandler(true);  // granted after the feed is gone
    EXPECT_FALSE(completed);
    EXPECT_EQ(camera->inputAttempts, 0);

    // Frames still coming from a camera whose feed is gone go nowhere.
    auto live = std::make_shared<FakeCamera>();
    int frames = 0;
    {
        Feed feed(live, nullptr);
        feed.setOnFrameReady([&](const QImage&) { ++frames; });
        ASSERT_TRUE(startAndWait(feed).success);
    }
    EXPECT_TRUE(live->deliver(solidFrame(9)));
    EXPECT_EQ(frames, 0);
}

TEST(CameraFeed, AMissingModelLeavesFramesUnsegmentedAndSaysWhy) {
    auto camera = std::make_shared<FakeCamera>();
    Feed feed(camera, []() -> std::unique_ptr<vantry::platform::PersonSegmenter> {
        throw vantry::platform::SegmentationModelError("person-segmentation model not found at /nowhere");
    });
    FrameLog log;
    feed.setOnFrameReady(log.callback());
    feed.updateSettings(Mode::cutoutNoBackground, false);
    const cv::Mat frame = solidFrame(77);
    feed.captureOutput({frame.data, 32, 24, 32 * 4});
    ASSERT_TRUE(log.waitFor(1));
    EXPECT_EQ(log.images[0].pixel(0, 0), qRgba(77, 20, 10, 255));
    EXPECT_EQ(feed.segmentationError(), "person-segmentation model not found at /nowhere");
}
