#include "creator/studio-overlay/FacecamFrameProcessor.h"

#include <algorithm>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "platform/segmentation/PersonSegmenter.h"

namespace vantry::creator {

FacecamMaskScale facecamMaskScale(int cameraWidth, int cameraHeight, int maskWidth, int maskHeight) {
    return {double(cameraWidth) / double(std::max(maskWidth, 1)),
            double(cameraHeight) / double(std::max(maskHeight, 1))};
}

namespace {

// round(v / 255) for v in 0..65025, exact.
inline std::uint8_t div255(std::uint32_t v) {
    return std::uint8_t(((v + 128) * 257) >> 16);
}

}  // namespace

void blendWithMask(const cv::Mat& camera, const cv::Mat& background, const cv::Mat& mask, cv::Mat& out) {
    CV_Assert(camera.type() == CV_8UC4 && mask.type() == CV_8UC1 && out.type() == CV_8UC4);
    CV_Assert(camera.size() == mask.size() && camera.size() == out.size());
    CV_Assert(background.empty() || (background.type() == CV_8UC4 && background.size() == camera.size()));
    const int width = camera.cols;
    for (int y = 0; y < camera.rows; ++y) {
        const std::uint8_t* c = camera.ptr<std::uint8_t>(y);
        const std::uint8_t* m = mask.ptr<std::uint8_t>(y);
        std::uint8_t* o = out.ptr<std::uint8_t>(y);
        if (background.empty()) {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t k = m[x];
                for (int ch = 0; ch < 4; ++ch) o[4 * x + ch] = div255(c[4 * x + ch] * k);
            }
        } else {
            const std::uint8_t* b = background.ptr<std::uint8_t>(y);
            for (int x = 0; x < width; ++x) {
                const std::uint32_t k = m[x];
                const std::uint32_t inv = 255 - k;
                for (int ch = 0; ch < 4; ++ch)
                    o[4 * x + ch] = div255(c[4 * x + ch] * k + b[4 * x + ch] * inv);
            }
        }
    }
}

void facecamBlurBackground(const cv::Mat& picture, cv::Mat& blurred, cv::Mat& small, cv::Mat& smallBlurred) {
    constexpr int kReduction = 4;
    if (picture.cols < 16 * kReduction || picture.rows < 16 * kReduction) {
        cv::GaussianBlur(picture, blurred, cv::Size(0, 0), kFacecamBlurSigma, kFacecamBlurSigma,
                         cv::BORDER_REPLICATE);
        return;
    }
    const cv::Size reduced((picture.cols + kReduction - 1) / kReduction,
                           (picture.rows + kReduction - 1) / kReduction);
    cv::resize(picture, small, reduced, 0, 0, cv::INTER_AREA);
    const double sigma = kFacecamBlurSigma / kReduction;
    cv::GaussianBlur(small, smallBlurred, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
    cv::resize(smallBlurred, blurred, picture.size(), 0, 0, cv::INTER_LINEAR);
}

cv::Mat wrapImage(QImage& image) {
    return cv::Mat(image.height(), image.width(), CV_8UC4, image.bits(), std::size_t(image.bytesPerLine()));
}

QImage FacecamFrameProcessor::process(const cv::Mat& frame, FacecamFrameSettings settings) {
    // The refiner's history belongs to one unbroken run of refined frames of one size, mode and
    // mirroring; any other frame in between starts it again.
    const bool continuesRun = refinedLast_ && frame.size() == historySize_ &&
                              settings.mode == historySettings_.mode &&
                              settings.mirrored == historySettings_.mirrored;
    lastSegmented_ = false;
    refinedLast_ = false;
    if (frame.empty() || frame.type() != CV_8UC4) return {};
    const int width = frame.cols;
    const int height = frame.rows;

    // The picture, flipped left-right within its own width when mirrored.
    const cv::Mat* cam = &frame;
    if (settings.mirrored) {
        cv::flip(frame, mirrored_, 1);
        cam = &mirrored_;
    }

    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return {};
    cv::Mat outMat = wrapImage(out);

    std::optional<cv::Mat> result;
    if (settings.mode != OruFacecamBackgroundModeV1045::fullCamera && segmenter_ != nullptr) {
        result = segmenter_->segment(frame);  // the frame as delivered, never the mirrored copy
    }
    if (!result || (!result->empty() && result->type() != CV_8UC1)) {
        cam->copyTo(outMat);  // full camera, or segmentation failed: the unsegmented picture
        return out;
    }
    const cv::Mat& mask = *result;

    // The mask is flipped with its own width, then stretched over the picture.
    const cv::Mat* aligned = &mask;
    if (settings.mirrored && !mask.empty()) {
        cv::flip(mask, maskMirrored_, 1);
        aligned = &maskMirrored_;
    }
    if (aligned->empty()) {
        // A mask of no extent covers nothing: everything shows the background.
        maskScaled_.create(height, width, CV_8UC1);
        maskScaled_.setTo(0);
        aligned = &maskScaled_;
    }
    const cv::Mat* blendMask = &maskScaled_;
    if (settings.refineEdges) {
        if (!continuesRun) refiner_.reset();
        historySize_ = frame.size();
        historySettings_ = settings;
        refinedLast_ = true;
        // The refiner brings the mask up to the picture's size itself.
        refiner_.refine(*aligned, *cam, maskRefined_);
        blendMask = &maskRefined_;
    } else if (aligned != &maskScaled_) {
        const FacecamMaskScale scale = facecamMaskScale(width, height, aligned->cols, aligned->rows);
        cv::resize(*aligned, maskScaled_, cv::Size(width, height), scale.x, scale.y, cv::INTER_LINEAR);
    }

    if (settings.mode == OruFacecamBackgroundModeV1045::studioBlur) {
        facecamBlurBackground(*cam, blurred_, small_, smallBlurred_);
        blendWithMask(*cam, blurred_, *blendMask, outMat);
    } else {
        blendWithMask(*cam, cv::Mat(), *blendMask, outMat);
    }
    lastSegmented_ = true;
    return out;
}

}  // namespace vantry::creator
