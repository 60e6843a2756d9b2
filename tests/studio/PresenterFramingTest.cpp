// The presenter's life size: the head found in made-up silhouettes, followed over time, and the
// picture placed so the head is the same size and height in the set whatever the framing.
#include "studio/PresenterFraming.h"
#include "studio/PresenterShadow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "tests/support/Silhouettes.h"

namespace {

using vantry::Float3;
using vantry::studio::framedPresenterQuad;
using vantry::studio::HeadMeasure;
using vantry::studio::HeadTracker;
using vantry::studio::measureHead;
using vantry::studio::PresenterPlace;
using vantry::test::makeSilhouette;
using vantry::test::Silhouette;

std::optional<HeadMeasure> measure(const Silhouette& s) {
    return measureHead(s.alpha.data(), s.width, s.height, 1, s.width);
}

// The head's width and top in the set, in metres, from the quad of a picture showing `head`.
struct HeadInSet {
    float width = 0;
    float top = 0;
    float centreX = 0;
};
HeadInSet headInSet(const HeadMeasure& head, float aspect, PresenterPlace place = {}) {
    const auto q = framedPresenterQuad(place, aspect, {0, 1.6f, 5}, head);
    const Float3 bl = q.corners[0], br = q.corners[1], tl = q.corners[2];
    const float quadWidth = std::hypot(br.x - bl.x, br.z - bl.z);
    const float metresPerHeight = quadWidth / aspect;
    const float x = bl.x + (br.x - bl.x) * (head.centreX / aspect);
    return {head.width * metresPerHeight, tl.y - head.top * metresPerHeight, x};
}

struct Framing {
    const char* name;
    float centreX, top, headWidth;  // pixels in a 1280 x 720 picture
};

TEST(PresenterFraming, HeadIsLifeSizeAtTheSameHeightWhateverTheFraming) {
    const Framing framings[] = {
        {"head and shoulders", 640, 60, 260},
        {"upper body, wide", 640, 250, 120},
        {"off to one side, small", 300, 330, 70},
    };
    for (const Framing& f : framings) {
        SCOPED_TRACE(f.name);
        const Silhouette s = makeSilhouette(1280, 720, f.centreX, f.top, f.headWidth);
        const auto head = measure(s);
        ASSERT_TRUE(head);
        EXPECT_NEAR(head->width * 720, f.headWidth, f.headWidth * 0.05f);
        EXPECT_NEAR(head->top * 720, f.top, 2.0f);
        EXPECT_NEAR(head->centreX * 720, f.centreX, 2.0f);
        const HeadInSet inSet = headInSet(*head, 1280.0f / 720.0f);
        EXPECT_NEAR(inSet.width, vantry::studio::kHeadWidthMetres, vantry::studio::kHeadWidthMetres * 0.15f);
        EXPECT_NEAR(inSet.top, vantry::studio::kHeadTopMetres, 0.01f);
        // The head stands above the place's feet.
        EXPECT_NEAR(inSet.centreX, PresenterPlace{}.x, 0.01f);
    }
}

TEST(PresenterFraming, QuadReachesTheFloorAndTheSizeStepScalesAboutTheFeet) {
    const HeadMeasure head{0.08f, 0.36f, 0.89f};  // a tight head-and-shoulders picture
    const auto q = framedPresenterQuad({}, 16.0f / 9.0f, {0, 1.6f, 5}, head);
    EXPECT_FLOAT_EQ(q.corners[0].y, 0.0f);
    EXPECT_GT(q.bottomV, 1.0f);  // the picture ends above the floor: its last row carries on
    // Metres per picture height; the picture's own bottom edge is above the floor.
    const float metres = (q.corners[2].y - q.corners[0].y) / q.bottomV;
    EXPECT_GT(q.corners[2].y - metres, 0.0f);
    PresenterPlace bigger;
    bigger.height *= 1.18f;
    const HeadInSet normal = headInSet(head, 16.0f / 9.0f);
    const HeadInSet scaled = headInSet(head, 16.0f / 9.0f, bigger);
    EXPECT_NEAR(scaled.width / normal.width, 1.18f, 1e-3f);
    EXPECT_NEAR(scaled.top / normal.top, 1.18f, 1e-3f);
    EXPECT_NEAR(scaled.centreX, normal.centreX, 1e-4f);
}

TEST(PresenterFraming, EmptyMaskAndSpecksFindNoHead) {
    Silhouette empty{64, 48, std::vector<std::uint8_t>(64 * 48, 0)};
    EXPECT_FALSE(measure(empty));
    empty.fill(10, 10, 12, 11);  // a speck: one row
    EXPECT_FALSE(measure(empty));
    EXPECT_FALSE(measureHead(nullptr, 64, 48, 1, 64));
}

TEST(PresenterFraming, TrackerIgnoresARaisedHandAndALeanAndHoldsThroughAnEmptyMask) {
    const auto steady = measure(makeSilhouette(1280, 720, 640, 200, 150));
    const auto hand = measure(makeSilhouette(1280, 720, 640, 200, 150, 160));
    const auto leaning = measure(makeSilhouette(1280, 720, 700, 215, 160));
    ASSERT_TRUE(steady && hand && leaning);
    EXPECT_LT(hand->top, steady->top - 0.1f);  // the hand is what the measure finds first

    HeadTracker tracker;
    double t = 0;
    for (int i = 0; i < 30; ++i, t += 1.0 / 30) tracker.add(steady, t);
    ASSERT_TRUE(tracker.head());
    const HeadMeasure held = *tracker.head();
    // A hand raised for a second and a half changes nothing.
    for (int i = 0; i < 45; ++i, t += 1.0 / 30) {
        tracker.add(hand, t);
        ASSERT_EQ(*tracker.head(), held);
    }
    // A lean now and then (every third picture) leaves the median where it was.
    for (int i = 0; i < 60; ++i, t += 1.0 / 30) {
        tracker.add(i % 3 == 2 ? leaning : steady, t);
        EXPECT_EQ(*tracker.head(), held);
    }
    // Seconds of empty masks hold the head.
    for (int i = 0; i < 90; ++i, t += 1.0 / 30) tracker.add(std::nullopt, t);
    EXPECT_EQ(*tracker.head(), held);
    // A new framing takes over within about a second.
    const auto wide = measure(makeSilhouette(1280, 720, 640, 300, 90));
    for (int i = 0; i < 31; ++i, t += 1.0 / 30) tracker.add(wide, t);
    EXPECT_EQ(*tracker.head(), *wide);
    // A hand kept up for longer than the hold is taken as the new framing.
    for (int i = 0; i < 75; ++i, t += 1.0 / 30) tracker.add(hand, t);
    EXPECT_EQ(*tracker.head(), *hand);
}

}  // namespace

namespace {

TEST(PresenterWallLight, MeanLinearColourOfEitherByteOrderAndTheWallsSide) {
    using vantry::studio::averageWallLight;
    // Left half one colour, right half another, rows padded: the mean of the two in linear light.
    const int w = 200, h = 90, row = w * 4 + 16;
    std::vector<std::uint8_t> rgba(std::size_t(row) * h, 7), bgra(rgba.size(), 7);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint8_t c[3] = {std::uint8_t(x < w / 2 ? 255 : 0), 128,
                                       std::uint8_t(x < w / 2 ? 0 : 64)};
            std::uint8_t* p = &rgba[std::size_t(y) * row + std::size_t(x) * 4];
            std::uint8_t* q = &bgra[std::size_t(y) * row + std::size_t(x) * 4];
            p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 255;
            q[0] = c[2], q[1] = c[1], q[2] = c[0], q[3] = 255;
        }
    }
    const auto lin = [](float v) { return std::pow(v / 255.0f, 2.2f); };
    for (const auto& [pixels, isBgra] : {std::pair{&rgba, false}, std::pair{&bgra, true}}) {
        const Float3 mean = averageWallLight(pixels->data(), w, h, row, isBgra);
        EXPECT_NEAR(mean.x, 0.5f, 0.02f);
        EXPECT_NEAR(mean.y, lin(128), 1e-3f);
        EXPECT_NEAR(mean.z, 0.5f * lin(64), 2e-3f);
    }
    EXPECT_EQ(averageWallLight(nullptr, w, h, row, false), (Float3{}));

    // Seen from the front (+z), a wall off to +x is on the presenter's right.
    const auto quad = vantry::studio::presenterQuad({}, 1.0f, {-0.35f, 1.6f, 5});
    EXPECT_NEAR(vantry::studio::wallSide(quad, {5, 2, -0.45f}), 1.0f, 1e-4f);
    EXPECT_NEAR(vantry::studio::wallSide(quad, {-5, 2, -0.45f}), -1.0f, 1e-4f);
    EXPECT_NEAR(vantry::studio::wallSide(quad, {-0.35f, 2, -3}), 0.0f, 1e-4f);
}

}  // namespace
