#include "creator/studio-overlay/FacecamEdgeRefiner.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "common/VectorClones.h"

namespace vantry::creator {
namespace {

cv::Size workingSize(cv::Size picture) {
    const int longer = std::max(picture.width, picture.height);
    if (longer <= kEdgeWorkingSide) return picture;
    const double scale = double(kEdgeWorkingSide) / double(longer);
    return {std::max(1, int(std::lround(picture.width * scale))),
            std::max(1, int(std::lround(picture.height * scale)))};
}

// The feather's radius: OpenCV's Gaussian size for 8-bit pictures, 2 round(3 sigma) + 1.
constexpr int kFeatherRadius = 4;
static_assert(2 * kFeatherRadius + 1 == (int(kEdgeFeatherSigma * 6 + 1.5) | 1));

// Column by column, the sum of `side` rows, kept in a register across the rows (side is a
// compile-time constant, so the loop over the rows unrolls).
template <int side>
inline void boxSums(const float* const* rows, int cols, float* __restrict out) {
    const float* __restrict r[side];
    for (int d = 0; d < side; ++d) r[d] = rows[d];
    for (int x = 0; x < cols; ++x) {
        float s = r[0][x];
#pragma GCC unroll 16
        for (int d = 1; d < side; ++d) s += r[d][x];
        out[x] = s;
    }
}

// The column sums of a box of `side` rows into sum[radius, radius + cols), the edge columns'
// sums repeated radius times on either side (side = 2 radius + 1).
template <int side>
inline void paddedColumnSums(const float* const* rows, int cols, float* __restrict sum) {
    constexpr int radius = side / 2;
    boxSums<side>(rows, cols, sum + radius);
    for (int i = 0; i < radius; ++i) {
        sum[i] = sum[radius];
        sum[radius + cols + i] = sum[radius + cols - 1];
    }
}

// One row of the mean over the guide's box: rows holds the box's rows (edge rows repeated by
// the caller); edge columns are repeated here. sum: scratch of cols + 2 kEdgeGuideRadius floats.
VANTRY_VECTOR_CLONES
void boxMeanRow(const float* const* rows, int cols, float* __restrict sum, float* __restrict out) {
    constexpr int radius = kEdgeGuideRadius;
    constexpr int side = 2 * radius + 1;
    constexpr float scale = 1.0f / float(side * side);
    paddedColumnSums<side>(rows, cols, sum);
    for (int x = 0; x < cols; ++x) {
        float s = sum[x];
#pragma GCC unroll 16
        for (int d = 1; d < side; ++d) s += sum[x + d];
        out[x] = s * scale;
    }
}

// The normalised box filter of the guide's radius with edge pixels repeated, as cv::boxFilter
// gives it, summed in float straight over the square (no running sums). src: CV_32FC1; dst must
// not be src.
void boxMean(const cv::Mat& src, cv::Mat& dst, std::vector<float>& sum) {
    constexpr int radius = kEdgeGuideRadius;
    dst.create(src.size(), CV_32F);
    sum.resize(std::size_t(src.cols + 2 * radius));
    const float* rows[2 * radius + 1];
    for (int y = 0; y < src.rows; ++y) {
        for (int dy = -radius; dy <= radius; ++dy)
            rows[dy + radius] = src.ptr<float>(std::clamp(y + dy, 0, src.rows - 1));
        boxMeanRow(rows, src.cols, sum.data(), dst.ptr<float>(y));
    }
}

// One row of the guide's box fit, the four box means and the coefficients in one go: rowsI and
// rowsP hold the box's rows of the guide and the mask (edge rows repeated by the caller); edge
// columns are repeated here. sums: scratch of 4 (cols + 2 kEdgeGuideRadius) floats.
VANTRY_VECTOR_CLONES
void fitRow(const float* const* rowsI, const float* const* rowsP, int cols, float* __restrict sums,
            float* __restrict a, float* __restrict b) {
    constexpr int radius = kEdgeGuideRadius;
    constexpr int side = 2 * radius + 1;
    constexpr float scale = 1.0f / float(side * side);
    const int stride = cols + 2 * radius;
    float* __restrict sI = sums;
    float* __restrict sP = sums + stride;
    float* __restrict sIp = sums + 2 * stride;
    float* __restrict sII = sums + 3 * stride;
    const float* __restrict ri[side];
    const float* __restrict rp[side];
    for (int d = 0; d < side; ++d) {
        ri[d] = rowsI[d];
        rp[d] = rowsP[d];
    }
    for (int x = 0; x < cols; ++x) {
        float i = ri[0][x];
        float p = rp[0][x];
        float si = i, sp = p, sip = i * p, sii = i * i;
#pragma GCC unroll 16
        for (int d = 1; d < side; ++d) {
            i = ri[d][x];
            p = rp[d][x];
            si += i;
            sp += p;
            sip += i * p;
            sii += i * i;
        }
        sI[radius + x] = si;
        sP[radius + x] = sp;
        sIp[radius + x] = sip;
        sII[radius + x] = sii;
    }
    for (float* s : {sI, sP, sIp, sII})
        for (int e = 0; e < radius; ++e) {
            s[e] = s[radius];
            s[radius + cols + e] = s[radius + cols - 1];
        }
    for (int x = 0; x < cols; ++x) {
        float mi = sI[x], mp = sP[x], ip = sIp[x], ii = sII[x];
#pragma GCC unroll 16
        for (int t = 1; t < side; ++t) {
            mi += sI[x + t];
            mp += sP[x + t];
            ip += sIp[x + t];
            ii += sII[x + t];
        }
        mi *= scale;
        mp *= scale;
        ip *= scale;
        ii *= scale;
        const float cov = ip - mi * mp;
        const float var = ii - mi * mi;
        a[x] = cov / (var + kEdgeGuideEps);
        b[x] = mp - a[x] * mi;
    }
}

// The working-size fit with the guide's box: a and b of each box, averaged over the boxes
// around each pixel, into meanA and meanB. luma, mask: CV_32F 0..1 of one size.
void fitWorking(const cv::Mat& luma, const cv::Mat& mask, std::vector<float>& sums, cv::Mat& a, cv::Mat& b,
                cv::Mat& meanA, cv::Mat& meanB) {
    constexpr int radius = kEdgeGuideRadius;
    a.create(luma.size(), CV_32F);
    b.create(luma.size(), CV_32F);
    sums.resize(std::size_t(4 * (luma.cols + 2 * radius)));
    const float* rowsI[2 * radius + 1];
    const float* rowsP[2 * radius + 1];
    for (int y = 0; y < luma.rows; ++y) {
        for (int d = -radius; d <= radius; ++d) {
            const int from = std::clamp(y + d, 0, luma.rows - 1);
            rowsI[d + radius] = luma.ptr<float>(from);
            rowsP[d + radius] = mask.ptr<float>(from);
        }
        fitRow(rowsI, rowsP, luma.cols, sums.data(), a.ptr<float>(y), b.ptr<float>(y));
    }
    boxMean(a, meanA, sums);
    boxMean(b, meanB, sums);
}

// The guided filter's coefficients, straightforwardly with OpenCV's box filter (the full-size
// reference): for the guide `luma` and the input `mask` (both CV_32F 0..1 of one size) and a
// box of `radius`, a and b of each box, averaged over the boxes around each pixel, left in
// meanA and meanB.
void fitWithBoxFilter(const cv::Mat& luma, const cv::Mat& mask, int radius, cv::Mat& meanA, cv::Mat& meanB) {
    const cv::Size box(2 * radius + 1, 2 * radius + 1);
    const auto mean = [&](const cv::Mat& src) {
        cv::Mat out;
        cv::boxFilter(src, out, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
        return out;
    };
    const cv::Mat meanI = mean(luma), meanP = mean(mask);
    const cv::Mat corrIp = mean(luma.mul(mask)), corrII = mean(luma.mul(luma));
    cv::Mat a(luma.size(), CV_32F), b(luma.size(), CV_32F);
    for (int y = 0; y < luma.rows; ++y) {
        const float* mi = meanI.ptr<float>(y);
        const float* mp = meanP.ptr<float>(y);
        const float* ip = corrIp.ptr<float>(y);
        const float* ii = corrII.ptr<float>(y);
        float* ay = a.ptr<float>(y);
        float* by = b.ptr<float>(y);
        for (int x = 0; x < luma.cols; ++x) {
            const float cov = ip[x] - mi[x] * mp[x];
            const float var = ii[x] - mi[x] * mi[x];
            ay[x] = cov / (var + kEdgeGuideEps);
            by[x] = mp[x] - ay[x] * mi[x];
        }
    }
    meanA = mean(a);
    meanB = mean(b);
}

// Bilinear scaling of `source` samples to `target` ones with the geometry of OpenCV's
// INTER_LINEAR: target i samples source (i + 0.5) * source / target - 0.5, clamped to the ends.
void linearTaps(int source, int target, std::vector<int>& from, std::vector<int>& to,
                std::vector<float>& weight) {
    from.resize(std::size_t(target));
    to.resize(std::size_t(target));
    weight.resize(std::size_t(target));
    const double scale = double(source) / double(target);
    for (int i = 0; i < target; ++i) {
        float f = float((i + 0.5) * scale - 0.5);
        int s = int(std::floor(f));
        f -= float(s);
        if (s < 0) {
            s = 0;
            f = 0;
        }
        if (s >= source - 1) {
            s = source - 1;
            f = 0;
        }
        from[std::size_t(i)] = s;
        to[std::size_t(i)] = std::min(s + 1, source - 1);
        weight[std::size_t(i)] = f;
    }
}

struct ScaleTaps {
    const int* columnFrom;
    const int* columnTo;
    const float* columnWeight;
    const int* rowFrom;
    const int* rowTo;
    const float* rowWeight;
};

// One working row of both coefficients scaled to the picture's width.
VANTRY_VECTOR_CLONES
void widenRow(const float* __restrict sa, const float* __restrict sb, const ScaleTaps& taps, int cols,
              float* __restrict a, float* __restrict b) {
    const int* __restrict from = taps.columnFrom;
    const int* __restrict to = taps.columnTo;
    const float* __restrict w = taps.columnWeight;
    for (int x = 0; x < cols; ++x) {
        a[x] = sa[from[x]] * (1.0f - w[x]) + sa[to[x]] * w[x];
        b[x] = sb[from[x]] * (1.0f - w[x]) + sb[to[x]] * w[x];
    }
}

// widenRow for a picture exactly twice the working width (sourceCols >= 2), without the
// tables: picture column 2k samples k - 1/4, column 2k + 1 samples k + 1/4, the ends repeated.
VANTRY_VECTOR_CLONES
void widenRowDouble(const float* __restrict sa, const float* __restrict sb, int sourceCols,
                    float* __restrict a, float* __restrict b) {
    a[0] = sa[0];
    b[0] = sb[0];
    for (int k = 0; k + 1 < sourceCols; ++k) {
        a[2 * k + 1] = sa[k] * 0.75f + sa[k + 1] * 0.25f;
        a[2 * k + 2] = sa[k] * 0.25f + sa[k + 1] * 0.75f;
        b[2 * k + 1] = sb[k] * 0.75f + sb[k + 1] * 0.25f;
        b[2 * k + 2] = sb[k] * 0.25f + sb[k + 1] * 0.75f;
    }
    a[2 * sourceCols - 1] = sa[sourceCols - 1];
    b[2 * sourceCols - 1] = sb[sourceCols - 1];
}

// q = clamp(a * luma / 255 + b) for one picture row, a and b blended from two widened rows; with
// a history row also the change |q - h|.
VANTRY_VECTOR_CLONES
void refinedRow(const float* __restrict a0, const float* __restrict a1, const float* __restrict b0,
                const float* __restrict b1, float w1, const std::uint8_t* __restrict luma, int cols,
                float* __restrict q, const float* __restrict h, float* __restrict change) {
    const float w0 = 1.0f - w1;
    for (int x = 0; x < cols; ++x) {
        const float a = a0[x] * w0 + a1[x] * w1;
        const float b = b0[x] * w0 + b1[x] * w1;
        q[x] = std::min(std::max(a * (float(luma[x]) * (1.0f / 255.0f)) + b, 0.0f), 1.0f);
    }
    if (h != nullptr)
        for (int x = 0; x < cols; ++x) change[x] = std::abs(q[x] - h[x]);
}

// The temporal step for one row: the change averaged over the motion square (its rows in
// `changes`, edge rows repeated by the caller, edge columns repeated here), the new frame's
// weight from it, the updated history and its 8-bit form. sum holds cols + 2r floats.
VANTRY_VECTOR_CLONES
void smoothRow(const float* const* changes, const float* __restrict q, int cols, float* __restrict sum,
               float* __restrict h, float* __restrict level) {
    constexpr int r = kEdgeMotionRadius;
    constexpr int side = 2 * r + 1;
    constexpr float slope = (1.0f - kEdgeStillWeight) / (kEdgeMovingChange - kEdgeStillChange);
    paddedColumnSums<side>(changes, cols, sum);
    for (int x = 0; x < cols; ++x) {
        float box = sum[x];
#pragma GCC unroll 16
        for (int d = 1; d < side; ++d) box += sum[x + d];
        const float motion = box * (1.0f / float(side * side));
        const float w = std::min(
            std::max(kEdgeStillWeight + (motion - kEdgeStillChange) * slope, kEdgeStillWeight), 1.0f);
        const float value = h[x] + w * (q[x] - h[x]);
        h[x] = value;
        level[x] = float(int(value * 255.0f + 0.5f));
    }
}

VANTRY_VECTOR_CLONES
void storeRow(const float* __restrict h, int cols, float* __restrict level) {
    for (int x = 0; x < cols; ++x) level[x] = float(int(h[x] * 255.0f + 0.5f));
}

// One row of the feather: `rows` holds the Gaussian's 2 kFeatherRadius + 1 rows of whole levels
// (edge rows repeated by the caller); edge columns are repeated here. Summed in float and
// rounded. padded: scratch of cols + 2 kFeatherRadius floats.
VANTRY_VECTOR_CLONES
void featherRow(const float* const* rows, const float* kernel, int cols, float* __restrict padded,
                std::uint8_t* __restrict out) {
    constexpr int radius = kFeatherRadius;
    constexpr int taps = 2 * radius + 1;
    const float* __restrict r[taps];
    float k[taps];
    for (int t = 0; t < taps; ++t) {
        r[t] = rows[t];
        k[t] = kernel[t];
    }
    float* __restrict middle = padded + radius;
    for (int x = 0; x < cols; ++x) {
        float sum = k[0] * r[0][x];
#pragma GCC unroll 16
        for (int t = 1; t < taps; ++t) sum += k[t] * r[t][x];
        middle[x] = sum;
    }
    for (int i = 0; i < radius; ++i) {
        padded[i] = middle[0];
        middle[cols + i] = middle[cols - 1];
    }
    for (int x = 0; x < cols; ++x) {
        float sum = k[0] * padded[x];
#pragma GCC unroll 16
        for (int t = 1; t < taps; ++t) sum += k[t] * padded[x + t];
        out[x] = std::uint8_t(int(sum + 0.5f));
    }
}

// The refined mask at the picture's size, its temporal average, its whole levels and their
// feather in one pass over the picture's rows. Row by row the averaged coefficients are scaled
// up (each working row widened once and kept while picture rows still need it, then blended
// vertically) and applied to the 8-bit luma. Without history the refined mask is taken as it
// is. Otherwise a ring of the motion square's rows holds the refined rows and their change from
// the history, filled ahead of the row being updated (whose history it reads before the
// update). The levels go into a ring of the feather's rows, and each feathered row is written
// once the rows below it are in.
void refineRows(const cv::Mat& coefA, const cv::Mat& coefB, const cv::Mat& luma, const ScaleTaps& taps,
                const float* featherKernel, bool fresh, cv::Mat& history, cv::Mat& scratch, cv::Mat& out) {
    constexpr int r = kEdgeMotionRadius;
    constexpr int side = 2 * r + 1;
    constexpr int f = kFeatherRadius;
    constexpr int featherSide = 2 * f + 1;
    const int rows = luma.rows;
    const int cols = luma.cols;
    // Rows: widened a and b for two working rows, refined ring, change ring, sums, level ring,
    // feather sums.
    constexpr int sumRow = 4 + 2 * side;
    constexpr int levelRow = sumRow + 1;
    constexpr int featherRow0 = levelRow + featherSide;
    scratch.create(featherRow0 + 1, cols + 2 * std::max(r, f), CV_32F);
    int widenedRow[2] = {-1, -1};
    const auto widened = [&](int k) {
        const int slot = k & 1;
        if (widenedRow[slot] != k) {
            widenedRow[slot] = k;
            if (cols == 2 * coefA.cols && coefA.cols >= 2) {
                widenRowDouble(coefA.ptr<float>(k), coefB.ptr<float>(k), coefA.cols, scratch.ptr<float>(slot),
                               scratch.ptr<float>(2 + slot));
            } else {
                widenRow(coefA.ptr<float>(k), coefB.ptr<float>(k), taps, cols, scratch.ptr<float>(slot),
                         scratch.ptr<float>(2 + slot));
            }
        }
        return slot;
    };
    const auto refine = [&](int y, float* q, const float* h, float* change) {
        const int s0 = widened(taps.rowFrom[y]);
        const int s1 = widened(taps.rowTo[y]);
        refinedRow(scratch.ptr<float>(s0), scratch.ptr<float>(s1), scratch.ptr<float>(2 + s0),
                   scratch.ptr<float>(2 + s1), taps.rowWeight[y], luma.ptr<std::uint8_t>(y), cols, q, h,
                   change);
    };
    const auto levels = [&](int y) { return scratch.ptr<float>(levelRow + y % featherSide); };
    int feathered = 0;
    const float* featherRows[featherSide];
    // Feathers every row whose Gaussian rows are in, once row `done` has its levels.
    const auto feather = [&](int done) {
        while (feathered < rows && (feathered + f <= done || done == rows - 1)) {
            for (int d = -f; d <= f; ++d) featherRows[d + f] = levels(std::clamp(feathered + d, 0, rows - 1));
            featherRow(featherRows, featherKernel, cols, scratch.ptr<float>(featherRow0),
                       out.ptr<std::uint8_t>(feathered));
            ++feathered;
        }
    };
    if (fresh) {
        for (int y = 0; y < rows; ++y) {
            refine(y, history.ptr<float>(y), nullptr, nullptr);
            storeRow(history.ptr<float>(y), cols, levels(y));
            feather(y);
        }
        return;
    }
    const auto fill = [&](int y) {
        refine(y, scratch.ptr<float>(4 + y % side), history.ptr<float>(y),
               scratch.ptr<float>(4 + side + y % side));
    };
    for (int y = 0; y < std::min(r, rows); ++y) fill(y);
    const float* changes[side];
    for (int y = 0; y < rows; ++y) {
        if (y + r < rows) fill(y + r);
        for (int dy = -r; dy <= r; ++dy)
            changes[dy + r] = scratch.ptr<float>(4 + side + std::clamp(y + dy, 0, rows - 1) % side);
        smoothRow(changes, scratch.ptr<float>(4 + y % side), cols, scratch.ptr<float>(sumRow),
                  history.ptr<float>(y), levels(y));
        feather(y);
    }
}

}  // namespace

void FacecamEdgeRefiner::guidedFilterFullSize(const cv::Mat& mask, const cv::Mat& picture, cv::Mat& out) {
    CV_Assert(mask.type() == CV_8UC1 && !mask.empty() && picture.type() == CV_8UC4);
    cv::Mat luma, lumaFloat, mask8, maskFloat, meanA, meanB;
    cv::cvtColor(picture, luma, cv::COLOR_BGRA2GRAY);
    luma.convertTo(lumaFloat, CV_32F, 1.0 / 255.0);
    cv::resize(mask, mask8, picture.size(), 0, 0, cv::INTER_LINEAR);
    mask8.convertTo(maskFloat, CV_32F, 1.0 / 255.0);
    // The same box, measured in picture pixels.
    const cv::Size work = workingSize(picture.size());
    const int radius = int(std::lround(kEdgeGuideRadius * double(picture.cols) / double(work.width)));
    fitWithBoxFilter(lumaFloat, maskFloat, radius, meanA, meanB);
    out.create(picture.size(), CV_32F);
    for (int y = 0; y < picture.rows; ++y) {
        const float* i = lumaFloat.ptr<float>(y);
        const float* a = meanA.ptr<float>(y);
        const float* b = meanB.ptr<float>(y);
        float* q = out.ptr<float>(y);
        for (int x = 0; x < picture.cols; ++x) q[x] = std::clamp(a[x] * i[x] + b[x], 0.0f, 1.0f);
    }
}

void FacecamEdgeRefiner::refine(const cv::Mat& mask, const cv::Mat& picture, cv::Mat& out) {
    CV_Assert(mask.type() == CV_8UC1 && !mask.empty() && picture.type() == CV_8UC4 && !picture.empty());
    cv::cvtColor(picture, luma_, cv::COLOR_BGRA2GRAY);
    const cv::Size full = luma_.size();
    const cv::Size work = workingSize(full);
    if (work == full) {
        luma_.convertTo(smallLuma_, CV_32F, 1.0 / 255.0);
    } else {
        cv::resize(luma_, smallLuma8_, work, 0, 0, cv::INTER_AREA);
        smallLuma8_.convertTo(smallLuma_, CV_32F, 1.0 / 255.0);
    }
    cv::resize(mask, smallMask8_, work, 0, 0, cv::INTER_LINEAR);
    smallMask8_.convertTo(smallMask_, CV_32F, 1.0 / 255.0);
    fitWorking(smallLuma_, smallMask_, boxSum_, a_, b_, meanI_, meanP_);

    linearTaps(work.width, full.width, columnFrom_, columnTo_, columnWeight_);
    linearTaps(work.height, full.height, rowFrom_, rowTo_, rowWeight_);
    const bool fresh = history_.size() != full;
    if (fresh) history_.create(full, CV_32F);
    out.create(full, CV_8U);
    static const cv::Mat featherKernel =
        cv::getGaussianKernel(2 * kFeatherRadius + 1, kEdgeFeatherSigma, CV_32F);
    refineRows(meanI_, meanP_, luma_,
               {columnFrom_.data(), columnTo_.data(), columnWeight_.data(), rowFrom_.data(), rowTo_.data(),
                rowWeight_.data()},
               featherKernel.ptr<float>(), fresh, history_, rows_, out);
}

}  // namespace vantry::creator
