// The facecam's per-frame picture work: mirroring, mask alignment, background and blend.
//
// Frames are 8-bit BGRA (B, G, R, A bytes per pixel); masks are one 8-bit channel with
// 255 = person. Results are premultiplied BGRA, the byte order of
// QImage::Format_ARGB32_Premultiplied on little-endian machines.
#pragma once

#include <opencv2/core.hpp>

#include <QImage>

#include "creator/studio-overlay/FacecamEdgeRefiner.h"
#include "creator/studio-overlay/FacecamTypes.h"

namespace vantry::platform {
class PersonSegmenter;
}

namespace vantry::creator {

// Sigma of the studio-blur background, in camera pixels.
inline constexpr double kFacecamBlurSigma = 14.0;

struct FacecamFrameSettings {
    OruFacecamBackgroundModeV1045 mode = OruFacecamBackgroundModeV1045::cutoutNoBackground;
    bool mirrored = true;
    // Steady, picture-fitted mask edges (FacecamEdgeRefiner); off: the raw mask, scaled.
    bool refineEdges = true;
};

// Factors that stretch a mask over the camera picture; a mask side of 0 divides by 1.
struct FacecamMaskScale {
    double x = 1;
    double y = 1;
};
FacecamMaskScale facecamMaskScale(int cameraWidth, int cameraHeight, int maskWidth, int maskHeight);

// result = background + (camera - background) * m, m = mask / 255, per channel, premultiplied.
// background empty means fully transparent. camera and background are CV_8UC4 of one size, mask
// CV_8UC1 of the same size; out must be CV_8UC4 of that size (it may wrap a QImage's pixels).
void blendWithMask(const cv::Mat& camera, const cv::Mat& background, const cv::Mat& mask, cv::Mat& out);

// The studio-blur background: picture blurred with sigma kFacecamBlurSigma, edge pixels repeated.
// Large pictures are blurred at a quarter of their size with a quarter of the sigma and scaled
// back (a sigma-14 blur keeps nothing the reduction loses); small ones are blurred directly.
// small and smallBlurred are scratch buffers kept by the caller.
void facecamBlurBackground(const cv::Mat& picture, cv::Mat& blurred, cv::Mat& small, cv::Mat& smallBlurred);

// Wraps the pixels of a 32-bit QImage as a CV_8UC4 matrix (no copy).
cv::Mat wrapImage(QImage& image);

// Runs frames through the facecam's processing, reusing one set of buffers.
class FacecamFrameProcessor {
  public:
    // segmenter may be null: every frame that needs it is then shown unsegmented.
    explicit FacecamFrameProcessor(platform::PersonSegmenter* segmenter = nullptr) : segmenter_(segmenter) {}
    void setSegmenter(platform::PersonSegmenter* segmenter) { segmenter_ = segmenter; }

    // frame: CV_8UC4 BGRA, as delivered by the camera (never mirrored). Returns a premultiplied
    // ARGB32 image of the frame's size, or a null image when it cannot be made.
    QImage process(const cv::Mat& frame, FacecamFrameSettings settings);

    // Whether the last processed frame was composited with a segmentation mask.
    bool lastFrameSegmented() const { return lastSegmented_; }

    // The mask the last segmented frame was composited with (CV_8UC1, the frame's size).
    const cv::Mat& lastMask() const { return refinedLast_ ? maskRefined_ : maskScaled_; }

  private:
    platform::PersonSegmenter* segmenter_;
    bool lastSegmented_ = false;
    bool refinedLast_ = false;  // the last frame was composited with a refined mask
    // The refiner's history runs while frames keep this size, mode and mirroring.
    FacecamEdgeRefiner refiner_;
    cv::Size historySize_;
    FacecamFrameSettings historySettings_;
    QImage output_;  // the last result, reused when nobody else holds it
    cv::Mat mirrored_, maskMirrored_, maskScaled_, maskRefined_, blurred_, small_, smallBlurred_;
};

}  // namespace vantry::creator
