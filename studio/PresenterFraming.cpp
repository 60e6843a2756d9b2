#include "studio/PresenterFraming.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vantry::studio {
namespace {

struct Stretch {
    int begin = 0;
    int end = 0;  // one past the last covered pixel
    int width() const { return end - begin; }
};

// The longest stretch of covered pixels in row y that overlaps [lo, hi) (the whole row when
// lo >= hi); width 0 when none does.
Stretch longestStretch(const std::uint8_t* row, int width, int pixelStep, int lo, int hi) {
    Stretch best;
    int x = 0;
    while (x < width) {
        while (x < width && row[std::size_t(x) * std::size_t(pixelStep)] < kHeadCoverage) ++x;
        const int begin = x;
        while (x < width && row[std::size_t(x) * std::size_t(pixelStep)] >= kHeadCoverage) ++x;
        const Stretch s{begin, x};
        const bool overlaps = lo >= hi || (s.begin < hi && s.end > lo);
        if (s.width() > best.width() && overlaps) best = s;
    }
    return best;
}

float median(std::vector<float> values) {
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

std::optional<HeadMeasure> measureHead(const std::uint8_t* alpha, int width, int height, int pixelStep,
                                       int rowBytes) {
    if (alpha == nullptr || width < 1 || height < 1 || pixelStep < 1 || rowBytes < 1) return std::nullopt;
    const auto rowAt = [&](int y) { return alpha + std::size_t(y) * std::size_t(rowBytes); };
    const int minStretch = std::max(2, width / 100);
    constexpr int kRunRows = 3;

    int top = -1;
    for (int y = 0, run = 0; y < height; ++y) {
        run = longestStretch(rowAt(y), width, pixelStep, 0, 0).width() >= minStretch ? run + 1 : 0;
        if (run == kRunRows) {
            top = y - kRunRows + 1;
            break;
        }
    }
    if (top < 0) return std::nullopt;

    // Down from the top, each row's stretch joined to the one above it.
    Stretch previous = longestStretch(rowAt(top), width, pixelStep, 0, 0);
    Stretch widest = previous;
    for (int y = top + 1; y < height; ++y) {
        const Stretch s = longestStretch(rowAt(y), width, pixelStep, previous.begin, previous.end);
        if (s.width() == 0) break;
        if (s.width() > widest.width()) widest = s;
        if (float(y - top) > 0.7f * float(widest.width())) break;
        previous = s;
    }
    const float h = float(height);
    return HeadMeasure{float(top) / h, float(widest.width()) / h,
                       0.5f * float(widest.begin + widest.end) / h};
}

void HeadTracker::reset() {
    samples_.clear();
    outliersSince_.reset();
    head_.reset();
}

void HeadTracker::add(std::optional<HeadMeasure> measure, double t) {
    while (!samples_.empty() && samples_.front().t < t - kWindowSeconds) samples_.pop_front();
    if (!measure) return;  // nobody in the picture: the head is held as it was
    const bool outlier =
        head_ && measure->width < 0.75f * head_->width && measure->top < head_->top - 0.3f * head_->width;
    if (!outlier) {
        outliersSince_.reset();
    } else {
        if (!outliersSince_) outliersSince_ = t;
        if (t - *outliersSince_ < kOutlierHoldSeconds) return;
        // Outliers for that long: the framing has changed; follow the new head from here.
        samples_.clear();
        outliersSince_.reset();
    }
    samples_.push_back({*measure, t});
    std::vector<float> top, width, centre;
    for (const Sample& s : samples_) {
        top.push_back(s.measure.top);
        width.push_back(s.measure.width);
        centre.push_back(s.measure.centreX);
    }
    head_ = HeadMeasure{median(top), median(width), median(centre)};
}

namespace {}  // namespace

FramedQuad framedPresenterQuad(PresenterPlace place, float pictureAspect, Float3 eye,
                               const HeadMeasure& head) {
    const float aspect = std::isfinite(pictureAspect) && pictureAspect > 0 ? pictureAspect : 1.0f;
    const float factor = place.height / kPresenterDefaultHeight;
    // A head narrower than 4 % of the picture's height is taken as that wide (no giant quads).
    const float headWidth = std::isfinite(head.width) ? std::max(head.width, 0.04f) : 0.04f;
    const float metres = kHeadWidthMetres * factor / headWidth;  // per picture height
    const float topY = kHeadTopMetres * factor + head.top * metres;
    const float bottomY = std::min(0.0f, topY - metres);
    const Float3 across = acrossFacing(place, eye);
    const Float3 feet{place.x, 0, place.z};
    const Float3 left = feet + across * (-head.centreX * metres);
    const Float3 right = feet + across * ((aspect - head.centreX) * metres);
    FramedQuad q;
    q.corners = {Float3{left.x, bottomY, left.z}, Float3{right.x, bottomY, right.z},
                 Float3{left.x, topY, left.z}, Float3{right.x, topY, right.z}};
    q.bottomV = (topY - bottomY) / metres;
    return q;
}

FramedQuad presenterQuadFor(PresenterPlace place, float pictureAspect, Float3 eye,
                            const std::optional<HeadMeasure>& head) {
    if (head) return framedPresenterQuad(place, pictureAspect, eye, *head);
    return {presenterQuad(place, pictureAspect, eye), 1.0f};
}

}  // namespace vantry::studio
