#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "tests/creator/studio-overlay/FakeDevices.h"

using namespace vantry::creator;
using vantry::testing::FakeSegmenter;
using Mode = OruFacecamBackgroundModeV1045;

namespace {

// 64 x 48 grey frame with a red "person" in the leftmost 10 columns.
cv::Mat personAtLeftEdge() {
    cv::Mat frame(48, 64, CV_8UC4, cv::Scalar(90, 90, 90, 255));
    frame(cv::Rect(0, 0, 10, 48)).setTo(cv::Scalar(0, 0, 255, 255));
    return frame;
}

// A mask at its own, coarser resolution: 32 x 24, person in the leftmost 5 columns.
std::optional<cv::Mat> leftEdgeMask(const cv::Mat&) {
    cv::Mat mask(24, 32, CV_8UC1, cv::Scalar(0));
    mask(cv::Rect(0, 0, 5, 24)).setTo(255);
    return mask;
}

cv::Vec4b pixel(const QImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

// These cases check where the network's mask lands; the refined edges have their own tests.
constexpr bool kRawMask = false;

TEST(FacecamCompositor, MaskScaleDividesByAtLeastOne) {
    const auto s = facecamMaskScale(640, 480, 256, 256);
    EXPECT_DOUBLE_EQ(s.x, 2.5);
    EXPECT_DOUBLE_EQ(s.y, 1.875);
    const auto zero = facecamMaskScale(640, 480, 0, 0);
    EXPECT_DOUBLE_EQ(zero.x, 640);
    EXPECT_DOUBLE_EQ(zero.y, 480);
    const auto half = facecamMaskScale(640, 480, 0, 10);
    EXPECT_DOUBLE_EQ(half.x, 640);
    EXPECT_DOUBLE_EQ(half.y, 48);
}

TEST(FacecamCompositor, BlendIsPremultipliedAndItsAlphaFollowsTheMask) {
    cv::Mat cam(1, 3, CV_8UC4, cv::Scalar(200, 100, 50, 255));
    cv::Mat mask = (cv::Mat_<uchar>(1, 3) << 0, 128, 255);
    cv::Mat out(1, 3, CV_8UC4);
    blendWithMask(cam, cv::Mat(), mask, out);
    EXPECT_EQ(out.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 0, 0));
    EXPECT_EQ(out.at<cv::Vec4b>(0, 1), cv::Vec4b(100, 50, 25, 128));
    EXPECT_EQ(out.at<cv::Vec4b>(0, 2), cv::Vec4b(200, 100, 50, 255));

    cv::Mat bg(1, 3, CV_8UC4, cv::Scalar(0, 255, 10, 255));
    blendWithMask(cam, bg, mask, out);
    EXPECT_EQ(out.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 255, 10, 255));
    EXPECT_EQ(out.at<cv::Vec4b>(0, 1), cv::Vec4b(100, 177, 30, 255));
    EXPECT_EQ(out.at<cv::Vec4b>(0, 2), cv::Vec4b(200, 100, 50, 255));
}

// Every camera value against every mask value, each channel of the pixel different, over a
// background and without one: round(v / 255) of the exact products.
TEST(FacecamCompositor, BlendRoundsEveryValueAndMaskLevelExactly) {
    cv::Mat cam(256, 256, CV_8UC4), bg(256, 256, CV_8UC4), mask(256, 256, CV_8UC1), out(256, 256, CV_8UC4);
    for (int v = 0; v < 256; ++v) {
        for (int k = 0; k < 256; ++k) {
            cam.at<cv::Vec4b>(v, k) = cv::Vec4b(uchar(v), uchar(255 - v), uchar(v ^ 0x5a), uchar(v / 2));
            bg.at<cv::Vec4b>(v, k) = cv::Vec4b(uchar(k ^ 0x33), uchar(v), uchar(255 - k), uchar(255));
            mask.at<uchar>(v, k) = uchar(k);
        }
    }
    const auto rounded = [](int product) { return uchar((product + 127) / 255); };
    for (const bool withBackground : {false, true}) {
        blendWithMask(cam, withBackground ? bg : cv::Mat(), mask, out);
        int wrong = 0;
        for (int v = 0; v < 256; ++v) {
            for (int k = 0; k < 256; ++k) {
                const cv::Vec4b c = cam.at<cv::Vec4b>(v, k), b = bg.at<cv::Vec4b>(v, k);
                for (int ch = 0; ch < 4; ++ch) {
                    const int product = c[ch] * k + (withBackground ? b[ch] * (255 - k) : 0);
                    wrong += out.at<cv::Vec4b>(v, k)[ch] != rounded(product);
                }
            }
        }
        EXPECT_EQ(wrong, 0) << (withBackground ? "over the background" : "transparent");
    }
}

TEST(FacecamCompositor, FullCameraRunsNoSegmentationAndShowsTheMirroredFrame) {
    FakeSegmenter seg;
    seg.makeMask = leftEdgeMask;
    FacecamFrameProcessor processor(&seg);
    const cv::Mat frame = personAtLeftEdge();
    const QImage out = processor.process(frame, {Mode::fullCamera, true});
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(seg.calls, 0);
    EXPECT_FALSE(processor.lastFrameSegmented());
    EXPECT_EQ(out.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(pixel(out, 63, 10), cv::Vec4b(0, 0, 255, 255));  // the red edge moved right
    EXPECT_EQ(pixel(out, 0, 10), cv::Vec4b(90, 90, 90, 255));

    const QImage plain = processor.process(frame, {Mode::fullCamera, false});
    EXPECT_EQ(pixel(plain, 0, 10), cv::Vec4b(0, 0, 255, 255));
}

TEST(FacecamCompositor, MirroringMovesTheSubjectAndTheMaskFollowsIt) {
    FakeSegmenter seg;
    cv::Mat seen;
    seg.makeMask = [&](const cv::Mat& f) {
        seen = f.clone();
        return leftEdgeMask(f);
    };
    FacecamFrameProcessor processor(&seg);
    const cv::Mat frame = personAtLeftEdge();
    const QImage out = processor.process(frame, {Mode::cutoutNoBackground, true, kRawMask});
    ASSERT_FALSE(out.isNull());
    EXPECT_TRUE(processor.lastFrameSegmented());
    // The segmenter saw the frame as delivered, not the mirrored picture.
    EXPECT_EQ(seen.at<cv::Vec4b>(10, 0), cv::Vec4b(0, 0, 255, 255));
    for (int x = 56; x < 64; ++x) EXPECT_EQ(pixel(out, x, 20), cv::Vec4b(0, 0, 255, 255)) << x;
    for (int x = 0; x < 40; ++x) EXPECT_EQ(pixel(out, x, 20)[3], 0) << x;

    const QImage unmirrored = processor.process(frame, {Mode::cutoutNoBackground, false, kRawMask});
    for (int x = 0; x < 8; ++x) EXPECT_EQ(pixel(unmirrored, x, 20), cv::Vec4b(0, 0, 255, 255)) << x;
    for (int x = 24; x < 64; ++x) EXPECT_EQ(pixel(unmirrored, x, 20)[3], 0) << x;
}

TEST(FacecamCompositor, BlurKeepsThePersonSharpOverTheBlurredPicture) {
    FakeSegmenter seg;
    seg.makeMask = leftEdgeMask;
    FacecamFrameProcessor processor(&seg);
    cv::Mat frame(48, 64, CV_8UC4);
    cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    const QImage out = processor.process(frame, {Mode::studioBlur, false, kRawMask});
    ASSERT_FALSE(out.isNull());
    cv::Mat blurred;
    cv::GaussianBlur(frame, blurred, cv::Size(0, 0), 14, 14, cv::BORDER_REPLICATE);
    EXPECT_EQ(pixel(out, 2, 5), frame.at<cv::Vec4b>(5, 2));        // person: the camera picture
    EXPECT_EQ(pixel(out, 50, 30), blurred.at<cv::Vec4b>(30, 50));  // background: blurred
    for (int x = 0; x < 64; ++x) EXPECT_EQ(pixel(out, x, 7)[3], 255);
}

TEST(FacecamCompositor, AMaskOfNoExtentShowsOnlyTheBackground) {
    FakeSegmenter seg;
    seg.makeMask = [](const cv::Mat&) { return std::optional<cv::Mat>(cv::Mat(0, 0, CV_8UC1)); };
    FacecamFrameProcessor processor(&seg);
    const QImage out = processor.process(personAtLeftEdge(), {Mode::cutoutNoBackground, true});
    ASSERT_FALSE(out.isNull());
    EXPECT_TRUE(processor.lastFrameSegmented());
    for (int x = 0; x < 64; x += 7) EXPECT_EQ(pixel(out, x, 11), cv::Vec4b(0, 0, 0, 0));
}

TEST(FacecamCompositor, FailedSegmentationShowsTheUnsegmentedMirroredFrame) {
    FakeSegmenter seg;  // no mask function: every call fails
    FacecamFrameProcessor processor(&seg);
    const QImage out = processor.process(personAtLeftEdge(), {Mode::cutoutNoBackground, true});
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(seg.calls, 1);
    EXPECT_FALSE(processor.lastFrameSegmented());
    EXPECT_EQ(pixel(out, 63, 0), cv::Vec4b(0, 0, 255, 255));
    EXPECT_EQ(pixel(out, 0, 0), cv::Vec4b(90, 90, 90, 255));

    FacecamFrameProcessor none(nullptr);
    EXPECT_FALSE(none.process(personAtLeftEdge(), {Mode::studioBlur, false}).isNull());
    EXPECT_TRUE(none.process(cv::Mat(), {Mode::fullCamera, false}).isNull());
}

TEST(FacecamCompositor, QuarterSizeBlurMatchesTheDirectSigma14Blur) {
    // Hard edges, fine noise and a bright spot at the border: the worst cases for a reduced blur.
    cv::Mat picture(480, 640, CV_8UC4, cv::Scalar(40, 60, 80, 255));
    cv::Mat noise(480, 640, CV_8UC4);
    cv::theRNG().state = 20261208;
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(60));
    picture += noise;
    cv::rectangle(picture, cv::Rect(100, 80, 200, 300), cv::Scalar(250, 240, 10, 255), cv::FILLED);
    cv::rectangle(picture, cv::Rect(0, 0, 30, 30), cv::Scalar(255, 255, 255, 255), cv::FILLED);
    cv::line(picture, {400, 0}, {400, 479}, cv::Scalar(0, 0, 0, 255), 3);
    picture.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });

    cv::Mat direct, reduced, a, b;
    cv::GaussianBlur(picture, direct, cv::Size(0, 0), 14, 14, cv::BORDER_REPLICATE);
    facecamBlurBackground(picture, reduced, a, b);
    ASSERT_EQ(reduced.size(), picture.size());
    ASSERT_EQ(reduced.type(), CV_8UC4);
    cv::Mat diff;
    cv::absdiff(direct, reduced, diff);
    double worst = 0;
    cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
    const cv::Scalar mean = cv::mean(diff);
    EXPECT_LE(worst, 10);
    for (int c = 0; c < 4; ++c) EXPECT_LT(mean[c], 1.0) << c;
}

// OpenCV's 8-bit Gaussian works with a fixed-point kernel; the background's is summed in float.
TEST(FacecamCompositor, QuarterSizeBlurIsOpenCvsAreaGaussianAndLinearStepsWithinTwoLevels) {
    cv::RNG rng(5);
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720), cv::Size(642, 483)}) {
        cv::Mat picture(size, CV_8UC4);
        rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
        cv::rectangle(picture, cv::Rect(50, 40, 200, 150), cv::Scalar(250, 240, 10, 255), cv::FILLED);
        const cv::Size reduced((size.width + 3) / 4, (size.height + 3) / 4);
        cv::Mat small, smallBlurred, expected;
        cv::resize(picture, small, reduced, 0, 0, cv::INTER_AREA);
        cv::GaussianBlur(small, smallBlurred, cv::Size(0, 0), kFacecamBlurSigma / 4, kFacecamBlurSigma / 4,
                         cv::BORDER_REPLICATE);
        cv::resize(smallBlurred, expected, size, 0, 0, cv::INTER_LINEAR);
        cv::Mat blurred, a, b;
        facecamBlurBackground(picture, blurred, a, b);
        EXPECT_LE(cv::norm(blurred, expected, cv::NORM_INF), 2) << size.width << "x" << size.height;
    }
}
