// The mix's "Wall Video" fed by the video playing on the wall: a made-up clip with a 1 kHz
// tone of known level (ffmpeg), silent while the source is muted as it starts, at the tone's
// level once unmuted and on across the clip's loop; a clip without sound gives silence.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/wall-feed/WallFeed.h"
#include "tests/support/AudioSignals.h"
#include "tests/support/ShellCommand.h"

namespace fs = std::filesystem;
using vantry::audio::MixSource;
using vantry::platform::ProgrammeSound;
using vantry::platform::ProgrammeSoundOptions;
using namespace vantry::platform::wall;
using Clock = std::chrono::steady_clock;

namespace {

// A feed clock whose waits end at once: the pictures run ahead, the sound keeps to the mix.
FeedClock instantClock() {
    auto now = std::make_shared<std::atomic<Clock::rep>>(Clock::now().time_since_epoch().count());
    FeedClock c;
    c.now = [now] { return Clock::time_point(Clock::duration(now->load())); };
    c.sleepUntil = [now](Clock::time_point due, const std::atomic<bool>&) {
        Clock::rep n = now->load();
        while (due.time_since_epoch().count() > n &&
               !now->compare_exchange_weak(n, due.time_since_epoch().count())) {
        }
    };
    return c;
}

// Latch: the first picture came, so the feed's clock (and its sound) has started.
struct FirstPicture {
    std::mutex mutex;
    std::condition_variable came;
    bool seen = false;
    FeedCallbacks callbacks() {
        FeedCallbacks c;
        c.picture = [this](const QImage&) {
            std::lock_guard lock(mutex);
            seen = true;
            came.notify_all();
        };
        c.ended = [](const std::string&) {};
        return c;
    }
    bool wait() {
        std::unique_lock lock(mutex);
        return came.wait_for(lock, std::chrono::seconds(30), [this] { return seen; });
    }
};

double rmsDb(const std::array<float, vantry::audio::kBlockFrames>& samples) {
    double sum = 0;
    for (float s : samples) sum += double(s) * s;
    return vantry::testing::dbOf(std::sqrt(sum / double(samples.size())));
}

class WallVideoSoundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-wall-sound-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ProgrammeSoundOptions options;
        options.micSource.clear();
        options.desktopSource.clear();
        options.makeSuppressor = nullptr;
        sound_ = std::make_unique<ProgrammeSound>(options);
    }
    void TearDown() override {
        sound_.reset();
        fs::remove_all(dir_);
    }

    // One second of pictures; with a tone: a 1 kHz mono sine at 44.1 kHz peaking at -12 dBFS.
    std::unique_ptr<WallFeed> play(const std::string& name, bool withTone) {
        const fs::path file = dir_ / name;
        std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x36:rate=25:duration=1";
        if (withTone)
            command += " -f lavfi -i 'aevalsrc=" + std::to_string(vantry::testing::amplitudeOf(-12)) +
                       "*sin(2*PI*1000*t):s=44100:d=1' -c:a pcm_s16le";
        command += " -c:v mpeg4 " + vantry::testing::shellQuote(file.string());
        EXPECT_EQ(vantry::testing::runShell(command).exitCode, 0) << command;
        std::string error;
        auto feed = openVideoWallFeed(file, first_.callbacks(), error, instantClock());
        EXPECT_TRUE(feed) << error;
        if (!feed) return nullptr;
        EXPECT_TRUE(first_.wait());
        sound_->setWallVideoSound(feed->sound());
        tap_ = sound_->tap();
        return feed;
    }
    ProgrammeSound::Block next() {
        ProgrammeSound::Block block;
        EXPECT_TRUE(tap_->pop(block, std::chrono::seconds(5)));
        return block;
    }
    void unmute() {
        auto s = sound_->mixer().settings(MixSource::wallVideo);
        s.muted = false;
        sound_->mixer().setSettings(MixSource::wallVideo, s);
    }

    fs::path dir_;
    FirstPicture first_;
    std::unique_ptr<ProgrammeSound> sound_;
    std::shared_ptr<ProgrammeSound::Tap> tap_;
};

}  // namespace

TEST_F(WallVideoSoundTest, ToneIsSilentWhileMutedThenAtItsLevelAcrossTheLoop) {
    auto feed = play("tone.mkv", true);
    ASSERT_TRUE(feed && feed->sound());
    EXPECT_TRUE(sound_->mixer().settings(MixSource::wallVideo).muted);  // off by default
    for (int i = 0; i < 30; ++i) {
        const auto block = next();
        EXPECT_EQ(rmsDb(block.left), vantry::testing::dbOf(0)) << "muted block " << i;
    }
    unmute();
    for (int i = 0; i < 5; ++i) next();  // the gain's glide and the limiter's look-ahead
    // 1.5 s: the one-second clip's loop among them. A sine's RMS is 3 dB under its peak.
    for (int i = 0; i < 150; ++i) {
        const auto block = next();
        EXPECT_NEAR(rmsDb(block.left), -15.0, 0.5) << "block " << i;
        EXPECT_NEAR(rmsDb(block.right), -15.0, 0.5) << "block " << i;
    }
}

TEST_F(WallVideoSoundTest, ClipWithoutSoundGivesSilence) {
    auto feed = play("mute.mkv", false);
    ASSERT_TRUE(feed && feed->sound());
    unmute();
    for (int i = 0; i < 50; ++i) {
        const auto block = next();
        EXPECT_EQ(rmsDb(block.left), vantry::testing::dbOf(0)) << "block " << i;
        EXPECT_EQ(rmsDb(block.right), vantry::testing::dbOf(0)) << "block " << i;
    }
}
