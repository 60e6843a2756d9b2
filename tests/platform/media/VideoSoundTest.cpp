// A video's sound read back as the wall plays it: made-up files from ffmpeg, a 1 kHz tone of a
// known level looped across the file's end, and a file without sound.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/media/VideoSoundDecoder.h"
#include "tests/support/AudioSignals.h"
#include "tests/support/ShellCommand.h"

namespace fs = std::filesystem;
using vantry::platform::media::VideoSoundDecoder;
using vantry::testing::runShell;
using vantry::testing::shellQuote;

namespace {

class VideoSoundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-video-sound-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // One second of pictures, with a 1 kHz sine at 44.1 kHz mono peaking at `peakDb` when
    // `withTone`.
    fs::path makeVideo(const std::string& name, bool withTone, double peakDb = -12) {
        const fs::path file = dir_ / name;
        std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x36:rate=25:duration=1";
        if (withTone)
            command += " -f lavfi -i 'aevalsrc=" + std::to_string(vantry::testing::amplitudeOf(peakDb)) +
                       "*sin(2*PI*1000*t):s=44100:d=1' -c:a pcm_s16le";
        command += " -c:v mpeg4 " + shellQuote(file.string());
        EXPECT_EQ(runShell(command).exitCode, 0) << command;
        return file;
    }

    fs::path dir_;
};

double rmsDb(const float* samples, int frames) {
    double sum = 0;
    for (int i = 0; i < frames; ++i) sum += double(samples[i]) * samples[i];
    return vantry::testing::dbOf(std::sqrt(sum / frames));
}

TEST_F(VideoSoundTest, ToneComesAtItsLevelOnBothSidesAndLoopsWithoutAGap) {
    VideoSoundDecoder sound(makeVideo("tone.mkv", true, -12));
    ASSERT_TRUE(sound.hasSound());
    constexpr int kBlock = 480;
    std::vector<float> left(kBlock), right(kBlock);
    // 2.5 s: two seams of the one-second file.
    for (int block = 0; block < 250; ++block) {
        ASSERT_EQ(sound.read(left.data(), right.data(), kBlock), kBlock) << "block " << block;
        // A sine's RMS is 3 dB below its peak.
        EXPECT_NEAR(rmsDb(left.data(), kBlock), -15.0, 0.5) << "block " << block;
        EXPECT_NEAR(rmsDb(right.data(), kBlock), -15.0, 0.5) << "block " << block;
    }
}

TEST_F(VideoSoundTest, VideoWithoutSoundReadsAsSilence) {
    VideoSoundDecoder sound(makeVideo("mute.mkv", false));
    EXPECT_FALSE(sound.hasSound());
    std::vector<float> left(480, 1.0f), right(480, 1.0f);
    EXPECT_EQ(sound.read(left.data(), right.data(), 480), 0);
    for (int i = 0; i < 480; ++i) ASSERT_TRUE(left[i] == 0.0f && right[i] == 0.0f);
}

}  // namespace
