#include "creator/studio-overlay/FacecamEdgeRefiner.h"

#include <algorithm>
#include <cmath>

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

struct GuidedBuffers {
    cv::Mat& smallLuma;
    cv::Mat& smallMask;
    cv::Mat& meanI;
    cv::Mat& meanP;
    cv::Mat& corrIp;
    cv::Mat& corrII;
    cv::Mat& a;
    cv::Mat& b;
    cv::Mat& bigA;
    cv::Mat& bigB;
};

// q = mean(a) * I + mean(b), the coefficients fitted at `work` with a box of `radius` and
// applied to the full-size luma (CV_32F 0..1). refined: CV_32FC1 0..1 of lumaFloat's size.
void fastGuidedFilter(const cv::Mat& mask, const cv::Mat& luma8, const cv::Mat& lumaFloat, cv::Size work,
                      int radius, GuidedBuffers g, cv::Mat& refined) {
    const cv::Size full = lumaFloat.size();
    if (work == full) {
        lumaFloat.copyTo(g.smallLuma);
    } else {
        cv::resize(luma8, g.a, work, 0, 0, cv::INTER_AREA);
        g.a.convertTo(g.smallLuma, CV_32F, 1.0 / 255.0);
    }
    cv::resize(mask, g.b, work, 0, 0, cv::INTER_LINEAR);
    g.b.convertTo(g.smallMask, CV_32F, 1.0 / 255.0);

    // Products first (into the correlation buffers), then every box in place.
    g.corrIp.create(work, CV_32F);
    g.corrII.create(work, CV_32F);
    for (int y = 0; y < work.height; ++y) {
        const float* i = g.smallLuma.ptr<float>(y);
        const float* p = g.smallMask.ptr<float>(y);
        float* ip = g.corrIp.ptr<float>(y);
        float* ii = g.corrII.ptr<float>(y);
        for (int x = 0; x < work.width; ++x) {
            ip[x] = i[x] * p[x];
            ii[x] = i[x] * i[x];
        }
    }
    const cv::Size box(2 * radius + 1, 2 * radius + 1);
    cv::boxFilter(g.smallLuma, g.meanI, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    cv::boxFilter(g.smallMask, g.meanP, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    cv::boxFilter(g.corrIp, g.corrIp, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    cv::boxFilter(g.corrII, g.corrII, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);

    g.a.create(work, CV_32F);
    g.b.create(work, CV_32F);
    for (int y = 0; y < work.height; ++y) {
        const float* mi = g.meanI.ptr<float>(y);
        const float* mp = g.meanP.ptr<float>(y);
        const float* ip = g.corrIp.ptr<float>(y);
        const float* ii = g.corrII.ptr<float>(y);
        float* a = g.a.ptr<float>(y);
        float* b = g.b.ptr<float>(y);
        for (int x = 0; x < work.width; ++x) {
            const float cov = ip[x] - mi[x] * mp[x];
            const float var = ii[x] - mi[x] * mi[x];
            a[x] = cov / (var + kEdgeGuideEps);
            b[x] = mp[x] - a[x] * mi[x];
        }
    }
    cv::boxFilter(g.a, g.meanI, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    cv::boxFilter(g.b, g.meanP, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    const cv::Mat* coefA = &g.meanI;
    const cv::Mat* coefB = &g.meanP;
    if (work != full) {
        cv::resize(g.meanI, g.bigA, full, 0, 0, cv::INTER_LINEAR);
        cv::resize(g.meanP, g.bigB, full, 0, 0, cv::INTER_LINEAR);
        coefA = &g.bigA;
        coefB = &g.bigB;
    }

    refined.create(full, CV_32F);
    for (int y = 0; y < full.height; ++y) {
        const float* i = lumaFloat.ptr<float>(y);
        const float* a = coefA->ptr<float>(y);
        const float* b = coefB->ptr<float>(y);
        float* q = refined.ptr<float>(y);
        for (int x = 0; x < full.width; ++x) q[x] = std::clamp(a[x] * i[x] + b[x], 0.0f, 1.0f);
    }
}

// The temporal step in one pass over the rows: the change from the history, its average over
// the motion square (edge pixels repeated), the new frame's weight from it and the updated
// history. changeRows holds the change of the square's rows as a ring, filled ahead
// of the row being updated (whose history it reads before the update); sums holds one row of
// column sums with the border repeated on either side and one of box sums.
VANTRY_VECTOR_CLONES
void smoothOverTime(const cv::Mat& refined, cv::Mat& history, cv::Mat& changeRows, cv::Mat& sums) {
    constexpr int r = kEdgeMotionRadius;
    constexpr int side = 2 * r + 1;
    constexpr float slope = (1.0f - kEdgeStillWeight) / (kEdgeMovingChange - kEdgeStillChange);
    const int rows = history.rows;
    const int cols = history.cols;
    changeRows.create(side, cols, CV_32F);
    sums.create(2, cols + 2 * r, CV_32F);
    float* __restrict sum = sums.ptr<float>(0);
    float* __restrict box = sums.ptr<float>(1);
    const auto fillChange = [&](int y) {
        const float* __restrict q = refined.ptr<float>(y);
        const float* __restrict h = history.ptr<float>(y);
        float* __restrict c = changeRows.ptr<float>(y % side);
        for (int x = 0; x < cols; ++x) c[x] = std::abs(q[x] - h[x]);
    };
    for (int y = 0; y < std::min(r, rows); ++y) fillChange(y);
    for (int y = 0; y < rows; ++y) {
        if (y + r < rows) fillChange(y + r);
        std::fill(sum + r, sum + r + cols, 0.0f);
        for (int dy = -r; dy <= r; ++dy) {
            const float* __restrict c = changeRows.ptr<float>(std::clamp(y + dy, 0, rows - 1) % side);
            for (int x = 0; x < cols; ++x) sum[r + x] += c[x];
        }
        for (int i = 0; i < r; ++i) {
            sum[i] = sum[r];
            sum[r + cols + i] = sum[r + cols - 1];
        }
        // The row's box sums, tap by tap along the whole row.
        std::fill(box, box + cols, 0.0f);
        for (int d = 0; d < side; ++d)
            for (int x = 0; x < cols; ++x) box[x] += sum[x + d];
        const float* __restrict q = refined.ptr<float>(y);
        float* __restrict h = history.ptr<float>(y);
        for (int x = 0; x < cols; ++x) {
            const float motion = box[x] * (1.0f / float(side * side));
            const float w = std::min(
                std::max(kEdgeStillWeight + (motion - kEdgeStillChange) * slope, kEdgeStillWeight), 1.0f);
            const float value = h[x] + w * (q[x] - h[x]);
            h[x] = value;
        }
    }
}

}  // namespace

void FacecamEdgeRefiner::guidedFilter(const cv::Mat& mask, cv::Mat& refined) {
    fastGuidedFilter(mask, luma_, lumaFloat_, workingSize(luma_.size()), kEdgeGuideRadius,
                     {smallLuma_, smallMask_, meanI_, meanP_, corrIp_, corrII_, a_, b_, bigA_, bigB_},
                     refined);
}

void FacecamEdgeRefiner::guidedFilterFullSize(const cv::Mat& mask, const cv::Mat& picture, cv::Mat& out) {
    CV_Assert(mask.type() == CV_8UC1 && !mask.empty() && picture.type() == CV_8UC4);
    cv::Mat luma, lumaFloat, s1, s2, s3, s4, s5, s6, s7, s8, s9, s10;
    cv::cvtColor(picture, luma, cv::COLOR_BGRA2GRAY);
    luma.convertTo(lumaFloat, CV_32F, 1.0 / 255.0);
    // The same box, measured in picture pixels.
    const cv::Size work = workingSize(picture.size());
    const int radius = int(std::lround(kEdgeGuideRadius * double(picture.cols) / double(work.width)));
    fastGuidedFilter(mask, luma, lumaFloat, picture.size(), radius, {s1, s2, s3, s4, s5, s6, s7, s8, s9, s10},
                     out);
}

void FacecamEdgeRefiner::refine(const cv::Mat& mask, const cv::Mat& picture, cv::Mat& out) {
    CV_Assert(mask.type() == CV_8UC1 && !mask.empty() && picture.type() == CV_8UC4 && !picture.empty());
    cv::cvtColor(picture, luma_, cv::COLOR_BGRA2GRAY);
    luma_.convertTo(lumaFloat_, CV_32F, 1.0 / 255.0);
    guidedFilter(mask, refined_);

    if (history_.size() != refined_.size()) {
        refined_.copyTo(history_);
    } else {
        smoothOverTime(refined_, history_, change_, motion_);
    }
    history_.convertTo(out, CV_8U, 255.0);
    cv::GaussianBlur(out, out, cv::Size(0, 0), kEdgeFeatherSigma, kEdgeFeatherSigma, cv::BORDER_REPLICATE);
}

}  // namespace vantry::creator
