#include <gtest/gtest.h>

#include <unistd.h>
#include <QImage>
#include <QStandardPaths>
#include <filesystem>
#include <fstream>
#include <thread>

#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"

namespace fs = std::filesystem;
namespace clipper = vantry::creator::OruViralAutoClipper9x16V1030;
using vantry::platform::DecodedVideoFrame;
using vantry::platform::decodeVideoFrames;
using vantry::platform::probeVideoFile;

namespace {

class ViralClipExport : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-clip-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

struct Rgb {
    int r, g, b;
};

// Colours after H.264 (limited-range 4:2:0) come back within a few levels.
void expectColour(const DecodedVideoFrame& f, int x, int yFromTop, Rgb want, int tolerance,
                  const char* what) {
    EXPECT_NEAR(f.r(x, yFromTop), want.r, tolerance) << what << " red at " << x << "," << yFromTop;
    EXPECT_NEAR(f.g(x, yFromTop), want.g, tolerance) << what << " green at " << x << "," << yFromTop;
    EXPECT_NEAR(f.b(x, yFromTop), want.b, tolerance) << what << " blue at " << x << "," << yFromTop;
}

void expectColour(const QImage& img, int x, int yFromTop, Rgb want, int tolerance, const char* what) {
    const QColor c = img.pixelColor(x, yFromTop);
    EXPECT_NEAR(c.red(), want.r, tolerance) << what << " red at " << x << "," << yFromTop;
    EXPECT_NEAR(c.green(), want.g, tolerance) << what << " green at " << x << "," << yFromTop;
    EXPECT_NEAR(c.blue(), want.b, tolerance) << what << " blue at " << x << "," << yFromTop;
}

// Band (0.02, 0.04, 0.08) at 0.86 over the background (0.05, 0.08, 0.14).
constexpr Rgb kBand{6, 12, 23};
constexpr Rgb kBar{255, 209, 36};
constexpr Rgb kDot{255, 64, 71};
// Orb (1, 0.78, 0.14) at 0.96 over the placeholder panel (0.09, 0.16, 0.28).
constexpr Rgb kOrb{246, 193, 37};
constexpr Rgb kPanel{23, 41, 71};

// Device rows: the clip's y (from the bottom) of a point becomes 1920 - y.
constexpr int kBarRow = 1920 - 93;    // the bar spans y 86..100
constexpr int kDotRow = 1920 - 1816;  // dot centre (80, 1816)

QImage blankFrame() {
    QImage img(1080, 1920, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    return img;
}

int countPixels(const QImage& img, int x0, int x1, int y0, int y1, Rgb want, int tolerance) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const QColor c = img.pixelColor(x, y);
            if (std::abs(c.red() - want.r) <= tolerance && std::abs(c.green() - want.g) <= tolerance &&
                std::abs(c.blue() - want.b) <= tolerance)
                ++n;
        }
    return n;
}

}  // namespace

TEST_F(ViralClipExport, ThreeSecondClipHasNinetyFramesKeyFramesEverySecondAndTheDrawnContent) {
    const fs::path out = dir_ / "clip.mp4";
    std::int64_t lastDone = 0, calls = 0;
    const auto receipt =
        clipper::exportVerticalViralClip("Neon Raid", "TRIPLE KILL", "+250 XP", std::nullopt, out, 3.0, 30,
                                         [&](std::int64_t done, std::int64_t total) {
                                             EXPECT_EQ(total, 90);
                                             EXPECT_EQ(done, lastDone + 1);
                                             lastDone = done;
                                             ++calls;
                                         });
    EXPECT_EQ(calls, 90);
    EXPECT_EQ(receipt.outputPath, out.string());
    EXPECT_EQ(receipt.width, 1080);
    EXPECT_EQ(receipt.height, 1920);
    EXPECT_EQ(receipt.frameCount, 90);
    EXPECT_DOUBLE_EQ(receipt.durationSeconds, 3.0);
    EXPECT_EQ(receipt.fileSizeBytes, std::int64_t(fs::file_size(out)));
    EXPECT_EQ(receipt.gameTitle, "Neon Raid");
    EXPECT_EQ(receipt.highlightHeadline, "TRIPLE KILL");

    const auto info = probeVideoFile(out);
    EXPECT_EQ(info.codecName, "h264");
    EXPECT_EQ(info.width, 1080);
    EXPECT_EQ(info.height, 1920);
    EXPECT_EQ(info.audioStreams, 0);
    EXPECT_TRUE(info.moovBeforeMdat());
    ASSERT_EQ(info.packets.size(), 90u);
    std::size_t lastKey = 0;
    for (std::size_t i = 0; i < info.packets.size(); ++i) {
        EXPECT_NEAR(info.packets[i].ptsSeconds, i / 30.0, 1e-9) << "frame " << i;
        if (info.packets[i].keyFrame) lastKey = i;
        EXPECT_LT(i - lastKey, 30u) << "more than a second without a key frame at " << i;
    }
    EXPECT_TRUE(info.packets[0].keyFrame);
    EXPECT_LE(info.fileBitRate(), 6'500'000 * 1.10);

    const auto frames = decodeVideoFrames(out, [](std::int64_t i) { return i == 0 || i == 89; });
    ASSERT_EQ(frames.size(), 2u);
    const auto& first = frames[0];
    const auto& last = frames[1];
    const int tol = 8;
    // Title band, recording dot, progress bar empty at the start and full (968 wide from x 56) at the end.
    expectColour(first, 1000, 1920 - 1900, kBand, tol, "top band");
    expectColour(first, 80, kDotRow, kDot, tol, "recording dot");
    expectColour(first, 60, kBarRow, kBand, tol, "empty progress bar");
    expectColour(first, 1000, kBarRow, kBand, tol, "empty progress bar");
    expectColour(last, 60, kBarRow, kBar, tol, "full progress bar start");
    expectColour(last, 1018, kBarRow, kBar, tol, "full progress bar end");
    expectColour(last, 1032, kBarRow, kBand, tol, "past the bar");
    // The orb: centre (540, 1120) at p = 0 and (420 + 200 sin 12 + 120, 880 + 120 cos 9 + 120) at p = 1.
    expectColour(first, 540, 1920 - 1120, kOrb, tol, "orb at start");
    expectColour(last, 433, 1920 - 891, kOrb, tol, "orb at end");
    expectColour(last, 540, 1920 - 1120, kPanel, tol, "panel where the orb was");
}

TEST_F(ViralClipExport, HalfSecondGivesTheOneSecondMinimum) {
    const fs::path out = dir_ / "short.mp4";
    const auto receipt = clipper::exportVerticalViralClip("t", "h", "b", std::nullopt, out, 0.5, 30);
    EXPECT_EQ(receipt.frameCount, 30);
    EXPECT_DOUBLE_EQ(receipt.durationSeconds, 1.0);
    EXPECT_EQ(probeVideoFile(out).packets.size(), 30u);
}

TEST_F(ViralClipExport, DefaultLocationUsesTheVideosFolderAndUnderscoredTitle) {
    const fs::path dir = clipper::defaultClipsDirectory();
    EXPECT_EQ(dir.filename(), "CorvellaClips");
    EXPECT_EQ(dir.parent_path().string(),
              QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString());
    EXPECT_TRUE(fs::is_directory(dir));

    const auto receipt =
        clipper::exportVerticalViralClip("Neon Raid Night", "h", "b", std::nullopt, std::nullopt, 0.1, 30);
    const fs::path out(receipt.outputPath);
    EXPECT_EQ(out.parent_path(), dir);
    const std::string name = out.filename().string();
    EXPECT_EQ(name.rfind("Neon_Raid_Night_Highlight_", 0), 0u) << name;
    EXPECT_EQ(out.extension(), ".mp4");
    EXPECT_TRUE(fs::exists(out));
    fs::remove(out);
}

TEST_F(ViralClipExport, ReplacesAnExistingFile) {
    const fs::path out = dir_ / "again.mp4";
    {
        std::ofstream junk(out, std::ios::binary);
        junk << std::string(5'000'000, 'x');
    }
    const auto receipt = clipper::exportVerticalViralClip("t", "h", "b", std::nullopt, out, 1.0, 30);
    EXPECT_EQ(receipt.fileSizeBytes, std::int64_t(fs::file_size(out)));
    EXPECT_LT(receipt.fileSizeBytes, 5'000'000);
    EXPECT_EQ(probeVideoFile(out).packets.size(), 30u);
}

TEST_F(ViralClipExport, UnwritableFolderThrowsAndWritesNothing) {
    const fs::path blocker = dir_ / "not-a-folder";
    std::ofstream(blocker) << "file";
    const fs::path out = blocker / "clips" / "clip.mp4";
    EXPECT_THROW(clipper::exportVerticalViralClip("t", "h", "b", std::nullopt, out, 1.0, 30),
                 fs::filesystem_error);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_THROW(clipper::exportVerticalViralClip("t", "h", "b", std::nullopt, dir_ / "x.mp4", 1.0, 0),
                 std::invalid_argument);
    EXPECT_FALSE(fs::exists(dir_ / "x.mp4"));
}

TEST_F(ViralClipExport, ConcurrentExportsToDifferentFilesAreIndependent) {
    std::vector<std::thread> threads;
    std::vector<std::int64_t> frames(2);
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            frames[t] = clipper::exportVerticalViralClip("t" + std::to_string(t), "h", "b", std::nullopt,
                                                         dir_ / ("c" + std::to_string(t) + ".mp4"), 1.0, 30)
                            .frameCount;
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(frames[t], 30);
        EXPECT_EQ(probeVideoFile(dir_ / ("c" + std::to_string(t) + ".mp4")).packets.size(), 30u);
    }
}

TEST(ViralClipFrame, ProgressBarIsExactlyNineHundredSixtyEightPointsAtTheEnd) {
    QImage img = blankFrame();
    clipper::drawClipFrame(img, 89, 90, "t", "h", "b", nullptr);
    expectColour(img, 56, kBarRow, kBar, 1, "bar start");
    expectColour(img, 1023, kBarRow, kBar, 1, "bar end");
    expectColour(img, 1024, kBarRow, kBand, 1, "after the bar");
    expectColour(img, 55, kBarRow, kBand, 1, "before the bar");
    expectColour(img, 540, 1920 - 87, kBar, 1, "bar bottom row");
    expectColour(img, 540, 1920 - 85, kBand, 1, "below the bar");
    img = blankFrame();
    clipper::drawClipFrame(img, 0, 90, "t", "h", "b", nullptr);
    EXPECT_EQ(countPixels(img, 0, 1080, 1920 - 100, 1920 - 86, kBar, 20), 0);
}

TEST(ViralClipFrame, TextIsUprightAboveItsBaselineAndTheTitleUpperCased) {
    QImage img = blankFrame();
    // "HIHI" has no descenders: all of it sits above the baseline y = 1710.
    clipper::drawClipFrame(img, 0, 90, "abc", "HIHI", "", nullptr);
    const Rgb white{255, 255, 255};
    EXPECT_GT(countPixels(img, 64, 300, 1920 - 1710 - 45, 1920 - 1710, white, 10), 300);
    EXPECT_EQ(countPixels(img, 0, 1080, 1920 - 1710 + 2, 1920 - 1630, white, 10), 0);

    // The title is drawn upper-cased: "abc" and "ABC" give the same pixels.
    QImage upper = blankFrame();
    clipper::drawClipFrame(upper, 0, 90, "ABC", "HIHI", "", nullptr);
    EXPECT_EQ(img, upper);
    QImage other = blankFrame();
    clipper::drawClipFrame(other, 0, 90, "xyz", "HIHI", "", nullptr);
    EXPECT_NE(img, other);
    const Rgb titleColour{61, 240, 255};
    EXPECT_GT(countPixels(img, 114, 260, 1920 - 1806 - 32, 1920 - 1806, titleColour, 12), 100);
}

TEST(ViralClipFrame, SourceImageIsPushedInAndCentredAndAZeroWidthImageDrawsNothing) {
    QImage source(160, 90, QImage::Format_RGB32);
    source.fill(QColor(200, 30, 40));
    QImage img = blankFrame();
    clipper::drawClipFrame(img, 0, 90, "t", "h", "b", &source);
    // At p = 0 the image is 1101.6 x 619.65, centred near the middle (shake ~0.1 px).
    expectColour(img, 540, 960, {200, 30, 40}, 2, "image centre");
    const int top = int(std::ceil((1920 - 619.65) / 2)) + 2;
    expectColour(img, 540, top, {200, 30, 40}, 2, "image top edge");
    expectColour(img, 540, top - 6, {13, 20, 36}, 2, "background above the image");
    expectColour(img, 2, 960, {200, 30, 40}, 2, "image wider than the frame");

    // The image stands upright: its top rows are drawn above its bottom rows.
    QImage halves(100, 100, QImage::Format_RGB32);
    halves.fill(QColor(0, 0, 255));
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) halves.setPixelColor(x, y, QColor(255, 0, 0));
    QImage upright = blankFrame();
    clipper::drawClipFrame(upright, 0, 90, "t", "h", "b", &halves);
    expectColour(upright, 540, 960 - 200, {255, 0, 0}, 2, "top half of the image");
    expectColour(upright, 540, 960 + 200, {0, 0, 255}, 2, "bottom half of the image");

    QImage empty;
    QImage plain = blankFrame();
    EXPECT_NO_FATAL_FAILURE(clipper::drawClipFrame(plain, 0, 90, "t", "h", "b", &empty));
    expectColour(plain, 540, 960, {13, 20, 36}, 2, "background only");
}
