// Broadcast MP4 export, read back with libavformat/libavcodec.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>

#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

class ExportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { engine_ = VantryMetalEngine::create(); }
    static void TearDownTestSuite() { engine_.reset(); }
    void SetUp() override {
        ASSERT_NE(engine_, nullptr);
        dir_ =
            fs::current_path() /
            ("export_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    static std::unique_ptr<VantryMetalEngine> engine_;
    fs::path dir_;
};
std::unique_ptr<VantryMetalEngine> ExportTest::engine_;

void expectWellFormed(const platform::VideoFileInfo& info, int w, int h, std::size_t frames) {
    EXPECT_EQ(info.codecName, "h264");
    EXPECT_EQ(info.pixelFormat, "yuv420p");
    EXPECT_EQ(info.width, w);
    EXPECT_EQ(info.height, h);
    EXPECT_EQ(info.videoStreams, 1);
    EXPECT_EQ(info.audioStreams, 0);
    EXPECT_TRUE(info.hasAvcC);
    EXPECT_TRUE(info.moovBeforeMdat());
    ASSERT_EQ(info.packets.size(), frames);
    for (std::size_t n = 0; n < frames; ++n) {
        EXPECT_NEAR(info.packets[n].ptsSeconds, double(n) / 30.0, 1e-6) << "frame " << n;
    }
    EXPECT_TRUE(info.packets[0].keyFrame);
}

TEST_F(ExportTest, FrameCountFollowsTheDurationWithAOneSecondMinimum) {
    const struct {
        double seconds;
        std::size_t frames;
    } cases[] = {{3.0, 90}, {2.0, 60}, {1.01, 30}, {0.5, 30}, {0.0, 30}};
    for (const auto& c : cases) {
        const fs::path out = dir_ / ("clip_" + std::to_string(c.seconds) + ".mp4");
        std::int64_t lastDone = 0, lastTotal = 0;
        bool ordered = true;
        const std::int64_t size =
            engine_->exportBroadcastMP4(64, 36, c.seconds, out, [&](std::int64_t done, std::int64_t total) {
                ordered = ordered && done == lastDone + 1;
                lastDone = done;
                lastTotal = total;
            });
        EXPECT_EQ(size, std::int64_t(fs::file_size(out)));
        EXPECT_TRUE(ordered);
        EXPECT_EQ(lastDone, std::int64_t(c.frames));
        EXPECT_EQ(lastTotal, std::int64_t(c.frames));
        expectWellFormed(platform::probeVideoFile(out), 64, 36, c.frames);
    }
}

TEST_F(ExportTest, Frame45IsTheOffscreenFrameAtOnePointFiveSeconds) {
    constexpr int kW = 320, kH = 180;
    engine_->setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    const fs::path out = dir_ / "crane.mp4";
    engine_->exportBroadcastMP4(kW, kH, 2.0, out);
    const auto frames = platform::decodeVideoFrames(out, [](std::int64_t i) { return i == 45; });
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_NEAR(frames[0].ptsSeconds, 1.5, 1e-6);
    const auto expected = engine_->renderOffscreenBGRA(kW, kH, 1.5f);
    engine_->setCameraAngle(BroadcastCameraAngle::wideDesk);
    ASSERT_TRUE(expected.has_value());
    ASSERT_EQ(frames[0].bgra.size(), expected->size());
    double squared = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < expected->size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(frames[0].bgra[i]) - double((*expected)[i]);
        squared += d * d;
        ++count;
    }
    const double psnr = 10.0 * std::log10(255.0 * 255.0 / std::max(squared / double(count), 1e-9));
    EXPECT_GE(psnr, 35.0);
    // A different time gives a visibly different picture: the comparison has teeth.
    const auto other = engine_->renderOffscreenBGRA(kW, kH, 0.0f);
    ASSERT_TRUE(other.has_value());
    EXPECT_NE(*other, *expected);
}

TEST_F(ExportTest, FullHDStaysWithinTheBitRateTarget) {
    const fs::path out = dir_ / "full_hd.mp4";
    engine_->exportBroadcastMP4(1920, 1080, 1.0, out);
    const auto info = platform::probeVideoFile(out);
    expectWellFormed(info, 1920, 1080, 30);
    EXPECT_LE(info.mediaBitRate(), 16'000'000 * 1.10);
    EXPECT_GT(info.mediaBitRate(), 0);
}

TEST_F(ExportTest, ReplacesAnExistingFileAndCreatesMissingFolders) {
    const fs::path existing = dir_ / "old.mp4";
    std::ofstream(existing) << "an older file that is not a video";
    engine_->exportBroadcastMP4(64, 36, 0.0, existing);
    expectWellFormed(platform::probeVideoFile(existing), 64, 36, 30);

    const fs::path nested = dir_ / "new" / "deeper" / "clip.mp4";
    const std::int64_t size = engine_->exportBroadcastMP4(64, 36, 0.0, nested);
    EXPECT_GT(size, 0);
    expectWellFormed(platform::probeVideoFile(nested), 64, 36, 30);
}

TEST_F(ExportTest, ParentThatCannotBeCreatedThrowsAndWritesNothing) {
    const fs::path blocker = dir_ / "a_file";
    std::ofstream(blocker) << "x";
    const fs::path out = blocker / "sub" / "clip.mp4";
    int calls = 0;
    EXPECT_THROW(engine_->exportBroadcastMP4(64, 36, 1.0, out, [&](std::int64_t, std::int64_t) { ++calls; }),
                 std::exception);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(fs::exists(blocker / "sub"));
    EXPECT_EQ(fs::file_size(blocker), 1u);
}

TEST_F(ExportTest, AFolderAtTheDestinationIsNotReplaced) {
    const fs::path folder = dir_ / "taken.mp4";
    fs::create_directories(folder);
    std::ofstream(folder / "keep.txt") << "x";
    EXPECT_THROW(engine_->exportBroadcastMP4(64, 36, 1.0, folder), std::exception);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::exists(folder / "keep.txt"));
    const fs::path empty = dir_ / "empty.mp4";
    fs::create_directories(empty);
    EXPECT_THROW(engine_->exportBroadcastMP4(64, 36, 1.0, empty), std::exception);
    EXPECT_TRUE(fs::is_directory(empty));
}

TEST_F(ExportTest, WriterThatCannotOpenThrows) {
    // An odd size cannot be encoded as yuv420p: the writer refuses before any frame.
    const fs::path out = dir_ / "odd.mp4";
    EXPECT_THROW(engine_->exportBroadcastMP4(63, 36, 1.0, out), std::exception);
    EXPECT_THROW(engine_->exportBroadcastMP4(64, 36, std::nan(""), out), std::exception);
}

// Hands every frame to the real MP4 sink and fails on the frames failAt says, as a full disk would.
class FailingSink final : public ExportVideoSink {
  public:
    FailingSink(const fs::path& path, const ExportVideoFormat& f, std::function<bool(std::int64_t)> failAt)
        : inner_(openMP4VideoSink(path, f)), failAt_(std::move(failAt)) {}
    void appendBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frame) override {
        if (failAt_(frame)) throw platform::VideoWriterError("disk full at frame " + std::to_string(frame));
        inner_->appendBGRA(pixels, stride, frame);
    }
    void finish() override { inner_->finish(); }

  private:
    std::unique_ptr<ExportVideoSink> inner_;
    std::function<bool(std::int64_t)> failAt_;
};

TEST_F(ExportTest, FrameThatFailsToRenderIsSkippedAndLaterFramesKeepTheirTimes) {
    constexpr int kW = 320, kH = 180;
    const fs::path out = dir_ / "gap.mp4";
    std::int64_t lastDone = 0;
    std::int64_t size = 0;
    {
        EngineServices services;
        services.exportFrame = [](std::int64_t n, const std::function<ExportFrame()>& render) -> ExportFrame {
            if (n == 10) return std::nullopt;
            return render();
        };
        auto engine = VantryMetalEngine::create(std::move(services));
        ASSERT_NE(engine, nullptr);
        size = engine->exportBroadcastMP4(kW, kH, 1.0, out,
                                          [&](std::int64_t done, std::int64_t) { lastDone = done; });
    }
    EXPECT_EQ(size, std::int64_t(fs::file_size(out)));
    EXPECT_EQ(lastDone, 30);  // the export went on past the failed frame

    const auto info = platform::probeVideoFile(out);
    ASSERT_EQ(info.packets.size(), 29u);
    for (std::size_t i = 0; i < info.packets.size(); ++i) {
        const std::size_t frame = i < 10 ? i : i + 1;
        EXPECT_NEAR(info.packets[i].ptsSeconds, double(frame) / 30.0, 1e-6) << "packet " << i;
    }
    const auto decoded = platform::decodeVideoFrames(out, [](std::int64_t) { return true; });
    ASSERT_EQ(decoded.size(), 29u);
    EXPECT_NEAR(decoded[10].ptsSeconds, 11.0 / 30.0, 1e-6);

    // An engine with the real services exports every frame.
    const fs::path again = dir_ / "again.mp4";
    engine_->exportBroadcastMP4(64, 36, 1.0, again);
    expectWellFormed(platform::probeVideoFile(again), 64, 36, 30);
}

TEST_F(ExportTest, WriterFailureEndsTheExportAndStillFinishesTheFile) {
    constexpr int kW = 320, kH = 180;
    const fs::path out = dir_ / "cut.mp4";
    std::int64_t lastDone = 0, lastAsked = -1;
    std::int64_t size = 0;
    {
        EngineServices services;
        services.openVideoSink = [&](const fs::path& path, const ExportVideoFormat& format) {
            return std::make_unique<FailingSink>(path, format, [&](std::int64_t n) {
                lastAsked = n;
                return n == 5;
            });
        };
        auto engine = VantryMetalEngine::create(std::move(services));
        ASSERT_NE(engine, nullptr);
        size = engine->exportBroadcastMP4(kW, kH, 1.0, out,
                                          [&](std::int64_t done, std::int64_t) { lastDone = done; });
    }
    EXPECT_GT(size, 0);
    EXPECT_EQ(size, std::int64_t(fs::file_size(out)));
    EXPECT_EQ(lastAsked, 5);  // no frame after the failure was handed to the writer
    EXPECT_LT(lastDone, 30);

    // The file is finished and plays: the five frames written before the failure.
    expectWellFormed(platform::probeVideoFile(out), kW, kH, 5);
    const auto decoded = platform::decodeVideoFrames(out, [](std::int64_t) { return true; });
    ASSERT_EQ(decoded.size(), 5u);
    for (const auto& frame : decoded) {
        EXPECT_EQ(frame.width, kW);
        EXPECT_EQ(frame.height, kH);
        EXPECT_EQ(frame.bgra.size(), std::size_t(kW) * kH * 4);
    }
    EXPECT_NEAR(decoded.back().ptsSeconds, 4.0 / 30.0, 1e-6);
}

}  // namespace
}  // namespace vantry
