// The edge refiner against the same steps written plainly with whole-picture OpenCV operations:
// guided filter fitted at the working size, coefficients scaled up bilinearly, temporal average
// weighted by the local change, 8-bit result, feather. Synthetic pictures and masks, several
// picture sizes (exact and odd reductions, and one small enough to be refined at its own size),
// a few frames each so the history takes part.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "creator/studio-overlay/FacecamEdgeRefiner.h"

using namespace vantry::creator;

namespace {

cv::Size referenceWorkingSize(cv::Size picture) {
    const int longer = std::max(picture.width, picture.height);
    if (longer <= kEdgeWorkingSide) return picture;
    const double scale = double(kEdgeWorkingSide) / double(longer);
    return {std::max(1, int(std::lround(picture.width * scale))),
            std::max(1, int(std::lround(picture.height * scale)))};
}

class ReferenceRefiner {
  public:
    cv::Mat refine(const cv::Mat& mask, const cv::Mat& picture) {
        const auto box = [](const cv::Mat& m) {
            cv::Mat out;
            const int side = 2 * kEdgeGuideRadius + 1;
            cv::boxFilter(m, out, CV_32F, cv::Size(side, side), cv::Point(-1, -1), true,
                          cv::BORDER_REPLICATE);
            return out;
        };
        cv::Mat luma, lumaFloat, smallLuma8, smallLuma, mask8, smallMask;
        cv::cvtColor(picture, luma, cv::COLOR_BGRA2GRAY);
        luma.convertTo(lumaFloat, CV_32F, 1.0 / 255.0);
        const cv::Size work = referenceWorkingSize(picture.size());
        cv::resize(luma, smallLuma8, work, 0, 0, cv::INTER_AREA);
        smallLuma8.convertTo(smallLuma, CV_32F, 1.0 / 255.0);
        cv::resize(mask, mask8, work, 0, 0, cv::INTER_LINEAR);
        mask8.convertTo(smallMask, CV_32F, 1.0 / 255.0);
        const cv::Mat meanI = box(smallLuma), meanP = box(smallMask);
        const cv::Mat cov = box(smallLuma.mul(smallMask)) - meanI.mul(meanP);
        const cv::Mat var = box(smallLuma.mul(smallLuma)) - meanI.mul(meanI);
        const cv::Mat a = cov / (var + kEdgeGuideEps);
        const cv::Mat b = meanP - a.mul(meanI);
        cv::Mat bigA, bigB;
        cv::resize(box(a), bigA, picture.size(), 0, 0, cv::INTER_LINEAR);
        cv::resize(box(b), bigB, picture.size(), 0, 0, cv::INTER_LINEAR);
        cv::Mat q = bigA.mul(lumaFloat) + bigB;
        q = cv::min(cv::max(q, 0.0), 1.0);

        if (history_.size() != q.size()) {
            history_ = q.clone();
        } else {
            cv::Mat change, motion;
            cv::absdiff(q, history_, change);
            const int side = 2 * kEdgeMotionRadius + 1;
            cv::boxFilter(change, motion, CV_32F, cv::Size(side, side), cv::Point(-1, -1), true,
                          cv::BORDER_REPLICATE);
            const float slope = (1.0f - kEdgeStillWeight) / (kEdgeMovingChange - kEdgeStillChange);
            cv::Mat weight = (motion - kEdgeStillChange) * slope + kEdgeStillWeight;
            weight = cv::min(cv::max(weight, kEdgeStillWeight), 1.0);
            history_ += weight.mul(q - history_);
        }
        cv::Mat out;
        history_.convertTo(out, CV_8U, 255.0);
        cv::GaussianBlur(out, out, cv::Size(0, 0), kEdgeFeatherSigma, kEdgeFeatherSigma,
                         cv::BORDER_REPLICATE);
        return out;
    }

  private:
    cv::Mat history_;
};

// A picture with smooth shading, hard edges and noise, and a blocky mask of its own size whose
// person moves with the frame number.
cv::Mat picture(cv::Size size, int frame, cv::RNG& rng) {
    cv::Mat bgra(size, CV_8UC4);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            bgra.at<cv::Vec4b>(y, x) = cv::Vec4b(uchar(x * 255 / size.width), uchar(y * 255 / size.height),
                                                 uchar((x + y) % 97), 255);
    cv::circle(bgra, {size.width / 2 + 3 * frame, size.height / 2}, size.height / 3,
               cv::Scalar(30, 200, 120, 255), cv::FILLED);
    cv::Mat noise(size, CV_8UC4);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 12);
    return bgra + noise;
}

cv::Mat maskFor(cv::Size size, int frame) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
    cv::circle(mask, {size.width / 2 + 3 * frame, size.height / 2}, size.height / 3 + 2, cv::Scalar(255),
               cv::FILLED);
    cv::GaussianBlur(mask, mask, cv::Size(0, 0), 1.5);
    return mask;
}

}  // namespace

TEST(FacecamEdgeRefiner, AgreesWithThePlainWholePictureSteps) {
    struct Case {
        cv::Size picture, mask;
    };
    const Case cases[] = {
        {{640, 480}, {256, 256}}, {{1280, 720}, {256, 144}}, {{333, 250}, {256, 256}},
        {{200, 150}, {256, 256}}, {{481, 641}, {100, 60}},
    };
    for (const Case& c : cases) {
        FacecamEdgeRefiner refiner;
        ReferenceRefiner reference;
        cv::RNG rng(7);
        for (int frame = 0; frame < 4; ++frame) {
            const cv::Mat pic = picture(c.picture, frame, rng);
            const cv::Mat mask = maskFor(c.mask, frame);
            cv::Mat out;
            refiner.refine(mask, pic, out);
            const cv::Mat expected = reference.refine(mask, pic);
            ASSERT_EQ(out.type(), CV_8UC1);
            ASSERT_EQ(out.size(), c.picture);
            EXPECT_LE(cv::norm(out, expected, cv::NORM_INF), 1)
                << c.picture.width << "x" << c.picture.height << " frame " << frame;
        }
    }
}
