#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/video/VideoWriter.h"
#include "platform/wall-feed/VideoWallFrames.h"
#include "platform/wall-feed/WallFeed.h"
#include "tests/support/AwkwardFiles.h"

namespace fs = std::filesystem;
using namespace vantry::platform::wall;
using Clock = std::chrono::steady_clock;

namespace {

// The colours of a test clip's pictures, picture n in colour n (BGRA order in memory).
constexpr std::array<std::array<int, 3>, 6> kColours{
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}}};

// Picture n of a clip painted in colour n, so each picture on the wall says which it was.
void writeColourClip(const fs::path& file, int fps, int frames) {
    vantry::platform::VideoWriterSettings s;
    s.width = 160;
    s.height = 90;
    s.fps = fps;
    s.averageBitRate = 400'000;
    vantry::platform::VideoWriter writer(file, s);
    std::vector<std::uint8_t> pixels(std::size_t(s.width) * s.height * 4);
    for (int n = 0; n < frames; ++n) {
        const auto& c = kColours[std::size_t(n)];
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            pixels[i + 0] = std::uint8_t(c[2]);
            pixels[i + 1] = std::uint8_t(c[1]);
            pixels[i + 2] = std::uint8_t(c[0]);
            pixels[i + 3] = 255;
        }
        writer.appendBGRA(pixels.data(), s.width * 4, n);
    }
    writer.finish();
}

// The clip colour nearest the picture's centre.
int colourIndex(const QImage& picture) {
    const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    int best = -1, bestDistance = 1 << 30;
    for (int i = 0; i < int(kColours.size()); ++i) {
        const int dr = c.red() - kColours[std::size_t(i)][0], dg = c.green() - kColours[std::size_t(i)][1],
                  db = c.blue() - kColours[std::size_t(i)][2];
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) bestDistance = d, best = i;
    }
    return best;
}

// A clock that never sleeps: a wait moves time on to its end at once and notes it.
struct FakeClock {
    std::mutex mutex;
    Clock::time_point now{std::chrono::hours(1)};
    std::vector<Clock::time_point> waits;

    FeedClock clock() {
        FeedClock c;
        c.now = [this] {
            std::lock_guard lock(mutex);
            return now;
        };
        c.sleepUntil = [this](Clock::time_point due, const std::atomic<bool>&) {
            std::lock_guard lock(mutex);
            waits.push_back(due);
            if (due > now) now = due;
        };
        return c;
    }
};

// The first `wanted` pictures a feed hands on, as clip colour indices.
struct PictureLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> colours;
    std::size_t wanted = 0;
    bool sizeWrong = false;
    std::string ended;

    FeedCallbacks callbacks() {
        FeedCallbacks c;
        c.picture = [this](const QImage& picture) {
            std::lock_guard lock(mutex);
            if (colours.size() >= wanted) return;
            if (picture.width() != kLivePictureWidth || picture.height() != kLivePictureHeight ||
                picture.format() != QImage::Format_ARGB32_Premultiplied)
                sizeWrong = true;
            colours.push_back(colourIndex(picture));
            changed.notify_all();
        };
        c.ended = [this](const std::string& message) {
            std::lock_guard lock(mutex);
            ended = message;
            changed.notify_all();
        };
        return c;
    }
    bool waitForAll() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30),
                                [this] { return colours.size() >= wanted || !ended.empty(); });
    }
};

class VideoWallFeedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-wall-video-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

}  // namespace

// Each picture at its own time from the start, in the file's order, again from the first
// after the last; a file faster than the feed's rate keeps only the pictures a feed slot apart.
TEST_F(VideoWallFeedTest, PicturesComeInOrderAtTheirTimesAndLoop) {
    struct Case {
        int fps;
        int frames;
        std::vector<int> order;
        double spacing;  // seconds between the waits' ends
    };
    const Case cases[] = {
        {10, 4, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1}, 0.1},
        {60, 6, {0, 2, 4, 0, 2, 4, 0}, 1.0 / 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fps) + " fps");
        const fs::path clip = dir_ / ("clip" + std::to_string(c.fps) + ".mp4");
        writeColourClip(clip, c.fps, c.frames);
        FakeClock clock;
        PictureLog log;
        log.wanted = c.order.size();
        const Clock::time_point start = clock.now;
        std::string error;
        auto feed = openVideoWallFeed(clip, log.callbacks(), error, clock.clock());
        ASSERT_TRUE(feed) << error;
        EXPECT_EQ(feed->name(), clip.filename().string());
        ASSERT_TRUE(log.waitForAll());
        feed.reset();
        EXPECT_EQ(log.ended, "");
        EXPECT_FALSE(log.sizeWrong);
        EXPECT_EQ(log.colours, c.order);
        ASSERT_GE(clock.waits.size(), c.order.size());
        for (std::size_t i = 0; i < c.order.size(); ++i)
            EXPECT_NEAR(std::chrono::duration<double>(clock.waits[i] - start).count(), double(i) * c.spacing,
                        0.002)
                << "picture " << i;
    }
}

// A named pipe, a device or a folder is refused at once with the reason; so is a file that is
// no video.
TEST_F(VideoWallFeedTest, RefusesWhatIsNoRegularVideoFile) {
    auto files = vantry::testing::makeAwkwardFiles(dir_, "clip", 1024);
    files.erase(
        std::remove_if(files.begin(), files.end(), [](const auto& f) { return f.reason == "larger than"; }),
        files.end());
    const fs::path text = dir_ / "notes.mp4";
    { std::ofstream(text) << "not a video\n"; }
    files.push_back({"a text file", "cannot play 'notes.mp4'", text});
    for (const auto& f : files) {
        SCOPED_TRACE(f.what);
        PictureLog log;
        std::string error;
        auto feed = openVideoWallFeed(f.path, log.callbacks(), error);
        EXPECT_FALSE(feed);
        EXPECT_NE(error.find(f.reason), std::string::npos) << error;
        EXPECT_EQ(error.rfind("cannot play '", 0), 0u) << error;
    }
}

// By time, as an export asks: the last picture at or before the time, the video looped, and
// back again to an earlier time.
TEST_F(VideoWallFeedTest, PictureAtATimeIsTheLastOneShownByThenLooped) {
    const fs::path clip = dir_ / "clip.mp4";
    writeColourClip(clip, 10, 4);  // 0.4 s a pass
    std::string error;
    auto frames = VideoWallFrames::open(clip, error);
    ASSERT_TRUE(frames) << error;
    EXPECT_EQ(frames->name(), "clip.mp4");
    const std::pair<double, int> cases[] = {{0, 0},    {0.05, 0}, {0.1, 1},  {0.35, 3}, {0.4, 0},
                                            {0.55, 1}, {0.2, 2},  {1.25, 0}, {0.3, 3},  {-1, 0}};
    for (const auto& [seconds, colour] : cases) {
        const QImage picture = frames->pictureAt(seconds);
        EXPECT_EQ(picture.size(), QSize(kLivePictureWidth, kLivePictureHeight));
        EXPECT_EQ(colourIndex(picture), colour) << "at " << seconds << " s";
    }
    auto pipe = vantry::testing::makeAwkwardFiles(dir_ / "awkward", "clip", 1024).front();
    EXPECT_FALSE(VideoWallFrames::open(pipe.path, error));
    EXPECT_NE(error.find("named pipe"), std::string::npos) << error;
}
