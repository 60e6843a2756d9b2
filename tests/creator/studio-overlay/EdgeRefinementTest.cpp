// Refined presenter edges with the real segmentation network on a made-up clip: the astronaut
// portrait held still under camera noise, then moved sideways. Refinement must steady a still
// person, follow real movement, and leave the raw mask untouched when it is off.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <opencv2/imgproc.hpp>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/segmentation/PersonSegmenter.h"

using namespace vantry;
using Mode = creator::OruFacecamBackgroundModeV1045;

namespace {

constexpr const char* kPortrait = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
constexpr int kStillFrames = 24;
constexpr int kWarmUpFrames = 6;  // the smoothed mask settles before it is measured
constexpr int kMovedFrames = 4;
constexpr int kShift = 8;           // pixels, sideways
constexpr double kNoiseLevels = 4;  // standard deviation of the camera noise, in 8-bit levels

// The portrait as a 640 x 480 camera frame, shifted right by `shift` pixels (edges repeated),
// with fresh camera noise drawn from rng.
cv::Mat cameraFrame(const cv::Mat& portrait, int shift, cv::RNG& rng) {
    cv::Mat moved;
    const cv::Mat translate = (cv::Mat_<double>(2, 3) << 1, 0, shift, 0, 1, 0);
    cv::warpAffine(portrait, moved, translate, portrait.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    cv::Mat noise(moved.size(), CV_16SC4);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0),
             cv::Scalar(kNoiseLevels, kNoiseLevels, kNoiseLevels, 0));
    cv::Mat noisy;
    moved.convertTo(noisy, CV_16SC4);
    noisy += noise;
    noisy.convertTo(moved, CV_8UC4);  // saturates to 0..255
    return moved;
}

double meanChange(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::mean(diff)[0];
}

double iou(const cv::Mat& a, const cv::Mat& b) {
    const cv::Mat inA = a > 127, inB = b > 127;
    const double both = cv::countNonZero(inA & inB);
    const double either = cv::countNonZero(inA | inB);
    return either > 0 ? both / either : 1.0;
}

class EdgeRefinement : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const auto model = platform::segmentationModelPath(platform::SegmentationModel::general);
        ASSERT_TRUE(std::filesystem::is_regular_file(model))
            << "segmentation model missing at " << model << ": run scripts/fetch-segmentation-model";
        QImage photo(QString::fromLatin1(kPortrait));
        ASSERT_FALSE(photo.isNull()) << kPortrait
                                     << " missing: install python3-skimage (scripts/install-deps)";
        photo = photo.convertToFormat(QImage::Format_ARGB32);
        const cv::Mat wrapped(photo.height(), photo.width(), CV_8UC4, photo.bits(),
                              std::size_t(photo.bytesPerLine()));
        portrait_ = new cv::Mat;
        cv::resize(wrapped, *portrait_, cv::Size(640, 480), 0, 0, cv::INTER_AREA);

        // The clip and, per frame, the masks the raw and the refined path composite with.
        cv::RNG rng(26);
        platform::OnnxPersonSegmenter rawSegmenter, refinedSegmenter;
        creator::FacecamFrameProcessor raw(&rawSegmenter), refined(&refinedSegmenter);
        clip_ = new Clip;
        for (int i = 0; i < kStillFrames + kMovedFrames; ++i) {
            const cv::Mat frame = cameraFrame(*portrait_, i < kStillFrames ? 0 : kShift, rng);
            raw.process(frame, {Mode::cutoutNoBackground, true, false});
            refined.process(frame, {Mode::cutoutNoBackground, true, true});
            ASSERT_TRUE(raw.lastFrameSegmented() && refined.lastFrameSegmented());
            clip_->frames.push_back(frame);
            clip_->raw.push_back(raw.lastMask().clone());
            clip_->refined.push_back(refined.lastMask().clone());
        }
    }
    static void TearDownTestSuite() {
        delete clip_;
        delete portrait_;
        clip_ = nullptr;
        portrait_ = nullptr;
    }

    struct Clip {
        std::vector<cv::Mat> frames, raw, refined;
    };
    static inline cv::Mat* portrait_ = nullptr;
    static inline Clip* clip_ = nullptr;
};

}  // namespace

TEST_F(EdgeRefinement, StillPersonShimmersAtLeastThreeTimesLessThanTheRawMask) {
    double rawChange = 0, refinedChange = 0;
    for (int i = kWarmUpFrames + 1; i < kStillFrames; ++i) {
        rawChange += meanChange(clip_->raw[i], clip_->raw[i - 1]);
        refinedChange += meanChange(clip_->refined[i], clip_->refined[i - 1]);
    }
    const int pairs = kStillFrames - kWarmUpFrames - 1;
    RecordProperty("raw_change_per_frame", std::to_string(rawChange / pairs));
    RecordProperty("refined_change_per_frame", std::to_string(refinedChange / pairs));
    ASSERT_GT(rawChange, 0) << "the camera noise must make the raw mask flicker";
    EXPECT_GE(rawChange / refinedChange, 3.0) << "raw " << rawChange / pairs << ", refined "
                                              << refinedChange / pairs << " levels per pixel and frame";
    // Steady, and still the same person.
    EXPECT_GE(iou(clip_->refined[kStillFrames - 1], clip_->raw[kStillFrames - 1]), 0.95);
}

TEST_F(EdgeRefinement, MovedPersonIsFollowedWithinTwoFrames) {
    const int second = kStillFrames + 1;
    const cv::Mat& still = clip_->raw[kStillFrames - 1];
    const cv::Mat& moved = clip_->raw[second];
    const double overlap = iou(clip_->refined[second], moved);
    RecordProperty("iou_second_moved_frame", std::to_string(overlap));
    EXPECT_GE(overlap, 0.95);
    // No trail: where the move changed the raw mask, the refined one has changed with it.
    const cv::Mat changedByMove = (still > 127) != (moved > 127);
    const cv::Mat followed = changedByMove & ((clip_->refined[second] > 127) == (moved > 127));
    ASSERT_GT(cv::countNonZero(changedByMove), 0) << "the move must change the mask";
    const double followedShare = double(cv::countNonZero(followed)) / cv::countNonZero(changedByMove);
    RecordProperty("followed_share_second_moved_frame", std::to_string(followedShare));
    EXPECT_GE(followedShare, 0.8);
}

TEST_F(EdgeRefinement, OffGivesTheRawMaskBitForBitAfterRefinedFrames) {
    // Raw: the network's mask, mirrored with its own width and stretched over the frame.
    const cv::Mat& frame = clip_->frames.back();
    platform::OnnxPersonSegmenter segmenter, reference;
    cv::Mat expected;
    cv::flip(*reference.segment(frame), expected, 1);
    cv::resize(expected, expected, frame.size(), 0, 0, cv::INTER_LINEAR);

    for (const Mode mode : {Mode::cutoutNoBackground, Mode::studioBlur}) {
        creator::FacecamFrameProcessor switched(&segmenter), never(&segmenter);
        for (int i = 0; i < 3; ++i) switched.process(clip_->frames[std::size_t(i)], {mode, true, true});
        const QImage a = switched.process(frame, {mode, true, false});
        const cv::Mat switchedMask = switched.lastMask().clone();
        const QImage b = never.process(frame, {mode, true, false});
        ASSERT_FALSE(a.isNull());
        EXPECT_TRUE(a == b) << mode.rawValue();
        EXPECT_EQ(cv::norm(switchedMask, expected, cv::NORM_INF), 0) << mode.rawValue();
    }
}

TEST_F(EdgeRefinement, HistoryStartsAgainWhenSizeOrModeChanges) {
    // After a change, the first refined frame is what a fresh processor makes of it.
    platform::OnnxPersonSegmenter segmenter;
    cv::Mat smaller;
    cv::resize(clip_->frames[1], smaller, cv::Size(320, 240), 0, 0, cv::INTER_AREA);
    struct Change {
        const char* name;
        cv::Mat frame;
        creator::FacecamFrameSettings settings;
    };
    const Change changes[] = {
        {"size", smaller, {Mode::cutoutNoBackground, true, true}},
        {"mode", clip_->frames[1], {Mode::studioBlur, true, true}},
        {"mirroring", clip_->frames[1], {Mode::cutoutNoBackground, false, true}},
    };
    for (const Change& c : changes) {
        creator::FacecamFrameProcessor running(&segmenter), fresh(&segmenter);
        // The moved frame first, so that stale history would show.
        running.process(clip_->frames.back(), {Mode::cutoutNoBackground, true, true});
        running.process(clip_->frames.back(), {Mode::cutoutNoBackground, true, true});
        EXPECT_TRUE(running.process(c.frame, c.settings) == fresh.process(c.frame, c.settings)) << c.name;
    }
}
