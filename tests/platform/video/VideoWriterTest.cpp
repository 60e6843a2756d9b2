#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"
#include "tests/support/AwkwardFiles.h"

namespace fs = std::filesystem;
using vantry::platform::decodeVideoFrames;
using vantry::platform::probeVideoFile;
using vantry::platform::VideoWriter;
using vantry::platform::VideoWriterError;
using vantry::platform::VideoWriterSettings;

namespace {

class VideoWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-video-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

VideoWriterSettings smallSettings(int width = 320, int height = 240) {
    VideoWriterSettings s;
    s.width = width;
    s.height = height;
    s.fps = 30;
    s.averageBitRate = 800'000;
    return s;
}

// A moving gradient with a little noise: content the encoder cannot make free.
void paintFrame(std::vector<std::uint8_t>& bgra, int width, int height, std::ptrdiff_t stride, int n,
                std::mt19937& rng) {
    std::uniform_int_distribution<int> noise(0, 40);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bgra.data() + y * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 4 + 0] = std::uint8_t((x + 3 * n) & 0xff);
            row[x * 4 + 1] = std::uint8_t((y * 2 + n) & 0xff);
            row[x * 4 + 2] = std::uint8_t(((x ^ y) + noise(rng)) & 0xff);
            row[x * 4 + 3] = 255;
        }
    }
}

void writeClip(const fs::path& file, const VideoWriterSettings& s, int frames) {
    VideoWriter writer(file, s);
    std::vector<std::uint8_t> pixels(std::size_t(s.width) * s.height * 4);
    std::mt19937 rng(7);
    for (int n = 0; n < frames; ++n) {
        paintFrame(pixels, s.width, s.height, s.width * 4, n, rng);
        writer.appendBGRA(pixels.data(), s.width * 4, n);
    }
    writer.finish();
}

}  // namespace

TEST_F(VideoWriterTest, WritesH264Mp4WithFaststartGlobalHeaderAndExactTimestamps) {
    const fs::path file = dir_ / "clip.mp4";
    writeClip(file, smallSettings(), 45);
    const auto info = probeVideoFile(file);
    EXPECT_EQ(info.codecName, "h264");
    EXPECT_EQ(info.pixelFormat, "yuv420p");
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(info.videoStreams, 1);
    EXPECT_EQ(info.audioStreams, 0);
    EXPECT_EQ(info.otherStreams, 0);
    EXPECT_EQ(double(info.frameRateNum) / info.frameRateDen, 30.0);
    EXPECT_TRUE(info.hasAvcC);
    EXPECT_TRUE(info.moovBeforeMdat());
    ASSERT_EQ(info.packets.size(), 45u);
    for (std::size_t n = 0; n < info.packets.size(); ++n)
        EXPECT_NEAR(info.packets[n].ptsSeconds, n / 30.0, 1e-9) << "frame " << n;
    EXPECT_TRUE(info.packets.front().keyFrame);
    EXPECT_EQ(info.fileSizeBytes, std::int64_t(fs::file_size(file)));
}

// A video handed to FFmpeg by name is checked first: a pipe, a device, a folder or a file too
// large is refused with the reason instead of FFmpeg waiting on it.
TEST_F(VideoWriterTest, ReadersRefusePipesDevicesFoldersAndOversizedFiles) {
    for (const auto& file : vantry::testing::makeAwkwardFiles(dir_, "clip.mp4", std::uintmax_t(64) << 30)) {
        try {
            (void)vantry::platform::probeVideoFile(file.path);
            ADD_FAILURE() << file.what;
        } catch (const vantry::platform::VideoWriterError& e) {
            EXPECT_NE(std::string(e.what()).find(file.reason), std::string::npos) << e.what();
        }
    }
}

TEST_F(VideoWriterTest, SkippedFrameIndicesStayMissing) {
    const fs::path file = dir_ / "gaps.mp4";
    auto s = smallSettings(64, 64);
    {
        VideoWriter writer(file, s);
        std::vector<std::uint8_t> pixels(64 * 64 * 4, 128);
        for (int n : {0, 1, 3, 4, 9}) writer.appendBGRA(pixels.data(), 64 * 4, n);
        EXPECT_EQ(writer.framesWritten(), 5);
        writer.finish();
        EXPECT_TRUE(writer.finished());
    }
    const auto info = probeVideoFile(file);
    ASSERT_EQ(info.packets.size(), 5u);
    const int expected[] = {0, 1, 3, 4, 9};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_NEAR(info.packets[i].ptsSeconds, expected[i] / 30.0, 1e-9);
}

TEST_F(VideoWriterTest, KeyFrameIntervalIsHonoured) {
    const fs::path file = dir_ / "keys.mp4";
    auto s = smallSettings(96, 64);
    s.maxKeyFrameInterval = 30;
    writeClip(file, s, 95);
    const auto info = probeVideoFile(file);
    ASSERT_EQ(info.packets.size(), 95u);
    std::size_t lastKey = 0;
    ASSERT_TRUE(info.packets[0].keyFrame);
    for (std::size_t n = 1; n < info.packets.size(); ++n) {
        if (info.packets[n].keyFrame) lastKey = n;
        EXPECT_LT(n - lastKey, 30u) << "no key frame for 30 frames before frame " << n;
    }
}

TEST_F(VideoWriterTest, ThreeSecondFileStaysWithinTheAverageBitRate) {
    // Same bits per pixel as 16 Mbit/s at 1920x1080, on hard (noisy, moving) content.
    const fs::path file = dir_ / "rate.mp4";
    auto s = smallSettings(480, 270);
    s.averageBitRate = 1'000'000;
    writeClip(file, s, 90);
    const auto info = probeVideoFile(file);
    ASSERT_EQ(info.packets.size(), 90u);
    EXPECT_LE(info.fileBitRate(), 1.10 * s.averageBitRate);
    EXPECT_GE(info.mediaBitRate(), 0.5 * s.averageBitRate) << "the encoder should use the budget it has";
}

TEST_F(VideoWriterTest, FrameMemoryIsDrawnInPlaceAndDecodesToTheSameColours) {
    const fs::path file = dir_ / "memory.mp4";
    auto s = smallSettings(128, 96);
    {
        VideoWriter writer(file, s);
        const auto mem = writer.frameMemory();
        ASSERT_NE(mem.data, nullptr);
        EXPECT_EQ(mem.width, 128);
        EXPECT_EQ(mem.height, 96);
        EXPECT_GE(mem.stride, 128 * 4);
        EXPECT_EQ(mem.stride % 64, 0);
        for (int n = 0; n < 3; ++n) {
            for (int y = 0; y < mem.height; ++y) {
                std::uint8_t* row = mem.data + y * mem.stride;
                for (int x = 0; x < mem.width; ++x) {
                    const bool top = y < mem.height / 2;
                    // Top half orange (R 255, G 128, B 0), bottom half teal (R 0, G 160, B 160).
                    row[x * 4 + 0] = top ? 0 : 160;
                    row[x * 4 + 1] = top ? 128 : 160;
                    row[x * 4 + 2] = top ? 255 : 0;
                    row[x * 4 + 3] = 255;
                }
            }
            writer.appendFrameMemory(n);
        }
        writer.finish();
    }
    const auto frames = decodeVideoFrames(file, [](std::int64_t i) { return i == 2; });
    ASSERT_EQ(frames.size(), 1u);
    const auto& f = frames[0];
    EXPECT_NEAR(f.ptsSeconds, 2 / 30.0, 1e-9);
    EXPECT_NEAR(f.r(64, 10), 255, 6);
    EXPECT_NEAR(f.g(64, 10), 128, 6);
    EXPECT_NEAR(f.b(64, 10), 0, 6);
    EXPECT_NEAR(f.r(64, 80), 0, 6);
    EXPECT_NEAR(f.g(64, 80), 160, 6);
    EXPECT_NEAR(f.b(64, 80), 160, 6);
}

TEST_F(VideoWriterTest, RejectsBadSettingsAndOutOfOrderFrames) {
    auto odd = smallSettings(321, 240);
    try {
        VideoWriter writer(dir_ / "odd.mp4", odd);
        FAIL() << "odd width accepted";
    } catch (const VideoWriterError& e) {
        EXPECT_EQ(e.kind(), VideoWriterError::Kind::Settings);
    }
    EXPECT_FALSE(fs::exists(dir_ / "odd.mp4"));
    auto noFps = smallSettings();
    noFps.fps = 0;
    EXPECT_THROW(VideoWriter(dir_ / "fps.mp4", noFps), VideoWriterError);
    auto badPreset = smallSettings();
    badPreset.preset = "no-such-preset";
    try {
        VideoWriter writer(dir_ / "preset.mp4", badPreset);
        FAIL() << "unknown preset accepted";
    } catch (const VideoWriterError& e) {
        EXPECT_EQ(e.kind(), VideoWriterError::Kind::Encoder);
    }
    EXPECT_FALSE(fs::exists(dir_ / "preset.mp4"));

    VideoWriter writer(dir_ / "order.mp4", smallSettings(64, 64));
    std::vector<std::uint8_t> pixels(64 * 64 * 4, 0);
    writer.appendBGRA(pixels.data(), 64 * 4, 5);
    EXPECT_THROW(writer.appendBGRA(pixels.data(), 64 * 4, 5), VideoWriterError);
    EXPECT_THROW(writer.appendBGRA(pixels.data(), 64 * 4, 4), VideoWriterError);
    EXPECT_THROW(writer.appendBGRA(pixels.data(), 10, 6), VideoWriterError);
    writer.finish();
    EXPECT_NO_THROW(writer.finish());
    EXPECT_THROW(writer.appendBGRA(pixels.data(), 64 * 4, 6), VideoWriterError);
    EXPECT_EQ(probeVideoFile(dir_ / "order.mp4").packets.size(), 1u);
}

TEST_F(VideoWriterTest, UnwritableDestinationThrowsAReadableMessage) {
    const fs::path file = dir_ / "missing-folder" / "clip.mp4";
    try {
        VideoWriter writer(file, smallSettings());
        FAIL() << "expected an error";
    } catch (const VideoWriterError& e) {
        EXPECT_NE(std::string(e.what()).find("clip.mp4"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
        EXPECT_EQ(e.kind(), VideoWriterError::Kind::File);
    }
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(VideoWriterTest, DestroyingWithoutFinishStillLeavesAPlayableFile) {
    const fs::path file = dir_ / "unfinished.mp4";
    {
        VideoWriter writer(file, smallSettings(64, 64));
        std::vector<std::uint8_t> pixels(64 * 64 * 4, 200);
        for (int n = 0; n < 4; ++n) writer.appendBGRA(pixels.data(), 64 * 4, n);
    }
    EXPECT_EQ(probeVideoFile(file).packets.size(), 4u);
}

TEST_F(VideoWriterTest, ConcurrentWritersToDifferentFilesAreIndependent) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back(
            [&, t] { writeClip(dir_ / ("c" + std::to_string(t) + ".mp4"), smallSettings(96, 64), 20); });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(probeVideoFile(dir_ / ("c" + std::to_string(t) + ".mp4")).packets.size(), 20u);
}

TEST(VideoFileReader, UnreadableFileThrows) {
    EXPECT_THROW(probeVideoFile("/nonexistent/none.mp4"), VideoWriterError);
}
