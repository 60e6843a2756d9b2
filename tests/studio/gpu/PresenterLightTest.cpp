// The light on the presenter standing in the set, in rendered frames of a flat-colour made-up
// cut-out: the colour match moves the presenter's colour towards the key light against no match,
// and the LED wall's average colour lights the presenter's edge on the wall's side, scaled by the
// wall's luminance, while the middle stays as it is.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "studio/ColourMatch.h"
#include "studio/PresenterFraming.h"
#include "studio/PresenterShadow.h"
#include "studio/SetGeometry.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "tests/support/Silhouettes.h"

namespace vantry {
namespace {

constexpr int kW = 960;
constexpr int kH = 540;
constexpr float kFrame = 1.0f / 30.0f;
const BroadcastStudioSet kSet = BroadcastStudioSet::manhattanLoft;
const BroadcastCameraAngle kAngle = BroadcastCameraAngle::tightHost;
// Close beside the LED wall, so that its light falls on one side.
constexpr studio::PresenterPlace kByTheWall{1.2f, -1.4f, 1.9f};

// A head and shoulders in one flat colour on a transparent picture.
QImage flatPresenter(QColor colour) {
    const auto s = test::makeSilhouette(240, 360, 120, 30, 70);
    QImage picture(s.width, s.height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            picture.setPixel(x, y, s.alpha[std::size_t(y) * s.width + x] ? colour.rgba() : 0);
    return picture;
}

QImage flatWall(QColor colour) {
    QImage picture(320, 180, QImage::Format_ARGB32_Premultiplied);
    picture.fill(colour);
    return picture;
}

struct Rgb {
    double r = 0, g = 0, b = 0;
};

class PresenterLight : public ::testing::Test {
  protected:
    void SetUp() override {
        EngineServices services;
        services.clock = [this] { return now_; };
        engine_ = VantryMetalEngine::create(std::move(services));
        ASSERT_NE(engine_, nullptr) << "no OpenGL 3.3 context through EGL";
        engine_->loadSet(kSet);
        engine_->setCameraAngle(kAngle);
        engine_->setInSetPresenterPlace(kByTheWall);
        findPresenter();
    }

    QImage frame() { return engine_->renderOffscreenCGImage(kW, kH, 0.0f); }

    // The pixels the presenter covers whole: where a white and a black presenter differ by
    // nearly the whole range with neither the rim's nor the wall's light on them.
    void findPresenter() {
        engine_->setNeonAccentGain(0);
        engine_->setLedWallBrightness(0);
        engine_->setInSetPresenter(flatPresenter(Qt::white));
        const QImage white = frame();
        engine_->setInSetPresenter(flatPresenter(Qt::black));
        const QImage black = frame();
        ASSERT_FALSE(white.isNull() || black.isNull());
        covered_.assign(std::size_t(kW) * kH, false);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const QRgb w = white.pixel(x, y), k = black.pixel(x, y);
                covered_[std::size_t(y) * kW + x] =
                    qRed(w) - qRed(k) > 200 && qGreen(w) - qGreen(k) > 200 && qBlue(w) - qBlue(k) > 200;
            }
        }
        engine_->setNeonAccentGain(1.25f);
        engine_->setLedWallBrightness(1.15f);
    }
    bool covered(int x, int y) const { return covered_[std::size_t(y) * kW + x]; }

    // The mean colour of the covered pixels.
    Rgb meanOverPresenter(const QImage& picture) const {
        Rgb sum;
        int n = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                if (!covered(x, y)) continue;
                const QRgb p = picture.pixel(x, y);
                sum.r += qRed(p), sum.g += qGreen(p), sum.b += qBlue(p);
                ++n;
            }
        }
        EXPECT_GT(n, 2000) << "the presenter is too small in the frame";
        return n > 0 ? Rgb{sum.r / n, sum.g / n, sum.b / n} : Rgb{};
    }

    std::unique_ptr<VantryMetalEngine> engine_;
    double now_ = 100.0;
    std::vector<bool> covered_;
};

double luminance(const Rgb& c) {
    return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b;
}

TEST_F(PresenterLight, ColourMatchMovesThePresenterTowardsTheKeyLight) {
    const struct {
        const char* name;
        QColor colour;
        // Greater: closer to the set's key light.
        double (*closeness)(const Rgb&);
    } cases[] = {
        {"too blue", QColor(70, 100, 190),
         [](const Rgb& c) { return -std::abs(std::log(c.b / c.r / (0.86 / 1.0))); }},
        {"too dark", QColor(40, 36, 32), [](const Rgb& c) { return luminance(c); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage picture = flatPresenter(c.colour);
        engine_->setInSetPresenterColourMatch(false);
        engine_->setInSetPresenter(picture);
        const Rgb off = meanOverPresenter(frame());
        engine_->setInSetPresenterColourMatch(true);
        // Five seconds of camera pictures.
        for (int n = 0; n < 150; ++n) {
            now_ += kFrame;
            engine_->setInSetPresenter(picture);
        }
        const Rgb on = meanOverPresenter(frame());
        EXPECT_GT(c.closeness(on), c.closeness(off) + 0.05) << "off " << off.r << "," << off.g << "," << off.b
                                                            << " on " << on.r << "," << on.g << "," << on.b;
        const Float3 g = engine_->inSetPresenterColourGains();
        for (float v : {g.x, g.y, g.z}) {
            EXPECT_GE(v, studio::ColourMatch::kMinGain);
            EXPECT_LE(v, studio::ColourMatch::kMaxGain);
        }
    }
    // Off again: the picture as it is.
    engine_->setInSetPresenterColourMatch(false);
    EXPECT_EQ(engine_->inSetPresenterColourGains(), (Float3{1, 1, 1}));
}

TEST_F(PresenterLight, TheWallsColourLightsTheEdgeOnTheWallsSide) {
    // Which side the wall is on, as the renderer finds it.
    const SetGeometry geometry = buildStudioSet(kSet);
    Float3 wallCentre{};
    int n = 0;
    for (const StageVertex& v : geometry.vertices) {
        if (v.matTag > 1.5f && v.matTag < 2.5f) wallCentre = wallCentre + v.position, ++n;
    }
    ASSERT_GT(n, 0);
    wallCentre = wallCentre * (1.0f / float(n));
    const QImage grey = flatPresenter(QColor(128, 128, 128));
    engine_->setInSetPresenter(grey);
    const auto quad =
        studio::presenterQuadFor(engine_->inSetPresenterPlace(), float(grey.width()) / float(grey.height()),
                                 studio::camera::cameraRig(kAngle, 0).eye, engine_->inSetPresenterHead());
    const float side = studio::wallSide(quad.corners, wallCentre);
    ASSERT_GT(std::abs(side), 0.2f) << "the wall is not beside the presenter";
    const int step = side > 0 ? -1 : 1;  // from the wall's side inwards

    // Per row of the presenter: its outermost covered pixel on the wall's side, the one on the
    // other side, and the middle.
    struct Samples {
        Rgb wallEdge, farEdge, middle;
    };
    const auto sample = [&](const QImage& picture) {
        Samples s;
        int rows = 0;
        const auto add = [&](Rgb& to, int x, int y) {
            const QRgb p = picture.pixel(x, y);
            to.r += qRed(p), to.g += qGreen(p), to.b += qBlue(p);
        };
        for (int y = 0; y < kH; ++y) {
            int first = -1, last = -1;
            for (int x = 0; x < kW; ++x) {
                if (!covered(x, y)) continue;
                if (first < 0) first = x;
                last = x;
            }
            if (first < 0 || last - first < 24) continue;
            const int wallX = step < 0 ? last : first;
            const int farX = step < 0 ? first : last;
            add(s.wallEdge, wallX, y);
            add(s.farEdge, farX, y);
            add(s.middle, (first + last) / 2, y);
            ++rows;
        }
        EXPECT_GT(rows, 40);
        for (Rgb* c : {&s.wallEdge, &s.farEdge, &s.middle}) *c = {c->r / rows, c->g / rows, c->b / rows};
        return s;
    };
    // How much redder a red wall makes a pixel than a blue one.
    const auto redShift = [](const Rgb& red, const Rgb& blue) { return (red.r - blue.r) + (blue.b - red.b); };

    double previous = -1;
    for (float luminance : {0.0f, 1.15f, 2.0f}) {
        SCOPED_TRACE(luminance);
        engine_->setLedWallBrightness(luminance);
        engine_->showLEDWallPicture(flatWall(QColor(255, 0, 0)), "Red");
        const Samples red = sample(frame());
        engine_->showLEDWallPicture(flatWall(QColor(0, 0, 255)), "Blue");
        const Samples blue = sample(frame());
        const double edge = redShift(red.wallEdge, blue.wallEdge);
        EXPECT_LT(std::abs(redShift(red.middle, blue.middle)), 3.0);
        EXPECT_LT(std::abs(redShift(red.farEdge, blue.farEdge)), 3.0);
        if (luminance == 0.0f) {
            EXPECT_LT(std::abs(edge), 0.5) << "no wall light without luminance";
        } else {
            EXPECT_GT(edge, 20.0);
            EXPECT_GT(edge, previous + 5.0) << "more luminance, more of the wall's light";
            // Towards each wall's own colour against the grey middle.
            EXPECT_GT(red.wallEdge.r - red.wallEdge.b, red.middle.r - red.middle.b + 10.0);
            EXPECT_GT(blue.wallEdge.b - blue.wallEdge.r, blue.middle.b - blue.middle.r + 10.0);
        }
        previous = edge;
    }
}

}  // namespace
}  // namespace vantry
