#include "creator/studio-overlay/FacecamFrameProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/segmentation/PersonSegmenter.h"

namespace vantry::creator {

FacecamMaskScale facecamMaskScale(int cameraWidth, int cameraHeight, int maskWidth, int maskHeight) {
    return {double(cameraWidth) / double(std::max(maskWidth, 1)),
            double(cameraHeight) / double(std::max(maskHeight, 1))};
}

#include "common/VectorClones.h"

namespace {

// A BGRA pixel is blended as two pairs of channels (B and R, G and A), each channel in a 16-bit
// lane of a 32-bit word. round(v / 255) for v in 0..65025 is (t + (t >> 8)) >> 8 with
// t = v + 128; no lane carries into the next.
constexpr std::uint32_t kLanes = 0x00ff00ffu;
constexpr std::uint32_t kHalf = 0x00800080u;

inline std::uint32_t div255Lanes(std::uint32_t t) {
    return ((t + ((t >> 8) & kLanes)) >> 8) & kLanes;
}

VANTRY_VECTOR_CLONES
void blendRows(const cv::Mat& camera, const cv::Mat& background, const cv::Mat& mask, cv::Mat& out) {
    const int width = camera.cols;
    for (int y = 0; y < camera.rows; ++y) {
        const std::uint32_t* __restrict c = camera.ptr<std::uint32_t>(y);
        const std::uint8_t* __restrict m = mask.ptr<std::uint8_t>(y);
        std::uint32_t* __restrict o = out.ptr<std::uint32_t>(y);
        if (background.empty()) {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t k = m[x];
                const std::uint32_t p = c[x];
                const std::uint32_t even = div255Lanes((p & kLanes) * k + kHalf);
                const std::uint32_t odd = div255Lanes(((p >> 8) & kLanes) * k + kHalf);
                o[x] = even | (odd << 8);
            }
        } else {
            const std::uint32_t* __restrict b = background.ptr<std::uint32_t>(y);
            for (int x = 0; x < width; ++x) {
                const std::uint32_t k = m[x];
                const std::uint32_t inv = 255 - k;
                const std::uint32_t p = c[x];
                const std::uint32_t q = b[x];
                const std::uint32_t even = div255Lanes((p & kLanes) * k + (q & kLanes) * inv + kHalf);
                const std::uint32_t odd =
                    div255Lanes(((p >> 8) & kLanes) * k + ((q >> 8) & kLanes) * inv + kHalf);
                o[x] = even | (odd << 8);
            }
        }
    }
}

// One row of the picture at a quarter of its size: the mean of each 4 x 4 block of source
// pixels, channel by channel, rounded to the nearest level (halves up), as OpenCV's area
// resize gives it for a whole ratio. rows: the block's four source rows, sourceWidth a
// multiple of 4. Columns are summed first, a chunk of blocks at a time.
VANTRY_VECTOR_CLONES
void quarterRow(const std::uint8_t* const* rows, int sourceWidth, std::uint8_t* __restrict out) {
    constexpr int kChunk = 64;  // blocks
    std::uint16_t sums[16 * kChunk];
    const int targetWidth = sourceWidth / 4;
    for (int first = 0; first < targetWidth; first += kChunk) {
        const int blocks = std::min(kChunk, targetWidth - first);
        const std::uint8_t* __restrict r0 = rows[0] + 16 * first;
        const std::uint8_t* __restrict r1 = rows[1] + 16 * first;
        const std::uint8_t* __restrict r2 = rows[2] + 16 * first;
        const std::uint8_t* __restrict r3 = rows[3] + 16 * first;
        for (int i = 0; i < 16 * blocks; ++i) sums[i] = std::uint16_t(r0[i] + r1[i] + r2[i] + r3[i]);
        std::uint8_t* __restrict o = out + 4 * first;
        for (int x = 0; x < blocks; ++x) {
            const std::uint16_t* block = sums + 16 * x;
            for (int c = 0; c < 4; ++c)
                o[4 * x + c] =
                    std::uint8_t((block[c] + block[4 + c] + block[8 + c] + block[12 + c] + 8) >> 4);
        }
    }
}

// The quarter-size background's Gaussian: 23 taps.
constexpr int kBackgroundBlurRadius = 11;

// One row of a Gaussian blur of a 4-channel 8-bit picture: `rows` holds the kernel's
// 2 radius + 1 source rows (edge rows repeated by the caller); edge pixels are repeated here.
// Summed in float, rounded to whole levels. padded: scratch of (cols + 2 radius) pixels.
VANTRY_VECTOR_CLONES void gaussianRow(const std::uint8_t* const* rows, const float* kernel, int cols,
                                      float* __restrict padded, std::uint8_t* __restrict out) {
    constexpr int radius = kBackgroundBlurRadius;
    constexpr int taps = 2 * radius + 1;
    constexpr int channels = 4;
    const std::uint8_t* __restrict r[taps];
    float k[taps];
    for (int t = 0; t < taps; ++t) {
        r[t] = rows[t];
        k[t] = kernel[t];
    }
    const int values = cols * channels;
    float* __restrict middle = padded + radius * channels;
    for (int i = 0; i < values; ++i) {
        float sum = k[0] * float(r[0][i]);
#pragma GCC unroll 32
        for (int t = 1; t < taps; ++t) sum += k[t] * float(r[t][i]);
        middle[i] = sum;
    }
    for (int p = 0; p < radius; ++p)
        for (int c = 0; c < channels; ++c) {
            padded[p * channels + c] = middle[c];
            middle[values + p * channels + c] = middle[values - channels + c];
        }
    for (int i = 0; i < values; ++i) {
        float sum = k[0] * padded[i];
#pragma GCC unroll 32
        for (int t = 1; t < taps; ++t) sum += k[t] * padded[i + t * channels];
        out[i] = std::uint8_t(int(sum + 0.5f));
    }
}

// The Gaussian blur of a 4-channel 8-bit picture, edge pixels repeated, over the kernel size
// OpenCV takes for 8-bit pictures (2 round(3 sigma) + 1, made odd): summed in float here for the
// quarter-size background's 23 taps (within a level of cv::GaussianBlur, whose 8-bit kernel is
// fixed-point), by cv::GaussianBlur for any other size. dst must not be src.
void blurBackgroundLevels(const cv::Mat& src, cv::Mat& dst, double sigma) {
    constexpr int radius = kBackgroundBlurRadius;
    const int size = int(std::lround(sigma * 6 + 1)) | 1;
    if (size != 2 * radius + 1 || src.type() != CV_8UC4) {
        cv::GaussianBlur(src, dst, cv::Size(size, size), sigma, sigma, cv::BORDER_REPLICATE);
        return;
    }
    const cv::Mat kernel = cv::getGaussianKernel(size, sigma, CV_32F);
    dst.create(src.size(), src.type());
    static thread_local std::vector<float> padded;
    padded.resize(std::size_t(src.cols + 2 * radius) * 4);
    const std::uint8_t* rows[2 * radius + 1];
    for (int y = 0; y < src.rows; ++y) {
        for (int d = -radius; d <= radius; ++d)
            rows[d + radius] = src.ptr<std::uint8_t>(std::clamp(y + d, 0, src.rows - 1));
        gaussianRow(rows, kernel.ptr<float>(), src.cols, padded.data(), dst.ptr<std::uint8_t>(y));
    }
}

// One row of the quarter-size picture scaled to four times its width, bilinearly with OpenCV's
// geometry (picture column 4k + j samples k + (2j - 3) / 8, the ends repeated), in eighths of a
// level. sourceWidth >= 2.
VANTRY_VECTOR_CLONES
void widenQuarterRow(const std::uint8_t* __restrict src, int sourceWidth, std::uint16_t* __restrict out) {
    const auto pixel = [&](int k, int left, int right) {
        for (int c = 0; c < 4; ++c) {
            const int l = src[4 * left + c];
            const int m = src[4 * k + c];
            const int r = src[4 * right + c];
            out[16 * k + c] = std::uint16_t(3 * l + 5 * m);
            out[16 * k + 4 + c] = std::uint16_t(l + 7 * m);
            out[16 * k + 8 + c] = std::uint16_t(7 * m + r);
            out[16 * k + 12 + c] = std::uint16_t(5 * m + 3 * r);
        }
    };
    pixel(0, 0, 1);
    for (int k = 1; k + 1 < sourceWidth; ++k) pixel(k, k - 1, k + 1);
    pixel(sourceWidth - 1, sourceWidth - 2, sourceWidth - 1);
}

// One picture row from two widened rows weighted w0 : w1 in eighths, rounded to whole levels.
VANTRY_VECTOR_CLONES
void blendQuarterRows(const std::uint16_t* __restrict r0, const std::uint16_t* __restrict r1, int w0, int w1,
                      int values, std::uint8_t* __restrict out) {
    for (int i = 0; i < values; ++i) out[i] = std::uint8_t((r0[i] * w0 + r1[i] * w1 + 32) >> 6);
}

// The quarter-size picture scaled up four times, as cv::resize with INTER_LINEAR does it:
// picture row 4k + j samples k + (2j - 3) / 8, the ends repeated; each quarter-size row is
// widened once.
void scaleUpFourTimes(const cv::Mat& small, cv::Mat& big) {
    big.create(small.rows * 4, small.cols * 4, CV_8UC4);
    const int values = big.cols * 4;
    static thread_local std::vector<std::uint16_t> widened;
    widened.resize(std::size_t(values) * 2);
    int widenedRow[2] = {-1, -1};
    const auto row = [&](int k) {
        k = std::clamp(k, 0, small.rows - 1);
        std::uint16_t* slot = widened.data() + std::size_t(k & 1) * std::size_t(values);
        if (widenedRow[k & 1] != k) {
            widenedRow[k & 1] = k;
            widenQuarterRow(small.ptr<std::uint8_t>(k), small.cols, slot);
        }
        return slot;
    };
    for (int y = 0; y < big.rows; ++y) {
        const int k = y / 4;
        const int j = y % 4;
        // Sample position k + (2j - 3) / 8: between k - 1 and k for j < 2, k and k + 1 after.
        const int above = j < 2 ? k - 1 : k;
        const int w1 = j < 2 ? 5 + 2 * j : 2 * j - 3;  // weight of the row below, eighths
        // Ends: a position before the first row or after the last is that row alone.
        const std::uint16_t* r0 = row(above);
        const std::uint16_t* r1 = row(above + 1);
        blendQuarterRows(r0, r1, 8 - w1, w1, values, big.ptr<std::uint8_t>(y));
    }
}

}  // namespace

void blendWithMask(const cv::Mat& camera, const cv::Mat& background, const cv::Mat& mask, cv::Mat& out) {
    CV_Assert(camera.type() == CV_8UC4 && mask.type() == CV_8UC1 && out.type() == CV_8UC4);
    CV_Assert(camera.size() == mask.size() && camera.size() == out.size());
    CV_Assert(background.empty() || (background.type() == CV_8UC4 && background.size() == camera.size()));
    blendRows(camera, background, mask, out);
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
    const bool whole = picture.cols % kReduction == 0 && picture.rows % kReduction == 0;
    if (whole) {
        small.create(reduced, CV_8UC4);
        for (int y = 0; y < reduced.height; ++y) {
            const std::uint8_t* rows[kReduction];
            for (int i = 0; i < kReduction; ++i) rows[i] = picture.ptr<std::uint8_t>(kReduction * y + i);
            quarterRow(rows, picture.cols, small.ptr<std::uint8_t>(y));
        }
    } else {
        cv::resize(picture, small, reduced, 0, 0, cv::INTER_AREA);
    }
    blurBackgroundLevels(small, smallBlurred, kFacecamBlurSigma / kReduction);
    if (whole) {
        scaleUpFourTimes(smallBlurred, blurred);
    } else {
        cv::resize(smallBlurred, blurred, picture.size(), 0, 0, cv::INTER_LINEAR);
    }
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

    // The last result's pixels are written again unless someone still holds that image.
    if (output_.width() != width || output_.height() != height || !output_.isDetached())
        output_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (output_.isNull()) return {};
    QImage& out = output_;
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
