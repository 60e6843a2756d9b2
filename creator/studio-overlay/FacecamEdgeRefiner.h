// Clean, steady person-mask edges for the facecam: the segmentation mask, which comes at the
// network's own coarse resolution and flickers from frame to frame, is brought up to the camera
// picture's size, snapped to the picture's edges and held steady over time.
//
// Per frame:
// 1. Edge refinement (fast guided filter, He & Sun): the camera picture's luma is the guide. At a
//    working size of at most kEdgeWorkingSide pixels on the longer side, a box of radius
//    kEdgeGuideRadius fits the mask locally as a * luma + b (regularised by kEdgeGuideEps); the
//    averaged coefficients are scaled up to the picture's size and applied to the full-size luma,
//    so the mask follows hair and shoulder outlines of the picture rather than the network's grid.
// 2. Temporal smoothing: an exponential average per pixel whose weight rises with the local
//    change. Where the refined mask moved by less than kEdgeStillChange (averaged over a
//    (2 kEdgeMotionRadius + 1)-pixel square) the weight is kEdgeStillWeight, which damps the
//    shimmer of a still person; from kEdgeMovingChange upwards it is 1, so real movement is taken
//    at once and leaves no trail; in between it rises linearly.
// 3. Feather: a Gaussian of sigma kEdgeFeatherSigma pixels softens the final edge.
//
// The first frame after construction or reset() is refined without history. Not thread-safe: one
// caller at a time. Uses OpenCV's core and imgproc only.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace vantry::creator {

inline constexpr int kEdgeWorkingSide = 320;
inline constexpr int kEdgeGuideRadius = 4;        // working-size pixels
inline constexpr float kEdgeGuideEps = 1e-3f;     // on 0..1 values: luma variance below ~8 levels is flat
inline constexpr int kEdgeMotionRadius = 2;       // picture pixels
inline constexpr float kEdgeStillWeight = 0.2f;   // weight of a new frame where nothing moved
inline constexpr float kEdgeStillChange = 0.04f;  // ~10 levels: camera-noise flicker
inline constexpr float kEdgeMovingChange = 0.2f;  // ~50 levels: real movement
inline constexpr double kEdgeFeatherSigma = 1.2;  // picture pixels

class FacecamEdgeRefiner {
  public:
    // mask: CV_8UC1 of any non-empty size, already aligned with picture (mirrored with it);
    // 255 = person. picture: CV_8UC4 BGRA, the camera picture as shown. out: CV_8UC1 of the
    // picture's size. A picture size other than the previous frame's starts without history.
    void refine(const cv::Mat& mask, const cv::Mat& picture, cv::Mat& out);

    // Forgets the history: the next frame is refined on its own.
    void reset() { history_.release(); }

    // The guided-filter step alone (no history, no feather), computed in float at the
    // picture's full size: the straightforward reference the working-size path is measured
    // against. out: CV_32FC1 values 0..1.
    static void guidedFilterFullSize(const cv::Mat& mask, const cv::Mat& picture, cv::Mat& out);

  private:
    cv::Mat history_;  // CV_32FC1, picture size: the smoothed mask of the last frame
    // Scratch buffers reused for every frame.
    cv::Mat luma_, smallLuma8_, smallLuma_, smallMask8_, smallMask_, meanI_, meanP_, a_, b_, rows_;
    // Bilinear scaling from the working size to the picture's: per picture column and row, the
    // two working-size sources and the second one's weight.
    std::vector<int> columnFrom_, columnTo_, rowFrom_, rowTo_;
    std::vector<float> columnWeight_, rowWeight_, boxSum_;
};

}  // namespace vantry::creator
