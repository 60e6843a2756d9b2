// "Stand in Set": the cut-out presenter (scikit-image's astronaut through the facecam's
// processing) as a quad in the offscreen studio, at every camera angle, against the studio
// alone: the desk hides the lower body, the head shows above the desk, nothing else changes,
// and the key light moves the presenter's brightness with the set's.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/segmentation/PersonSegmenter.h"
#include "studio/PresenterFraming.h"
#include "studio/PresenterPlace.h"
#include "studio/PresenterShadow.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace {

using vantry::BroadcastCameraAngle;
using vantry::BroadcastStudioSet;
using vantry::Float3;

constexpr int kWidth = 960;
constexpr int kHeight = 540;
constexpr float kTime = 0.0f;
const char* const kPortrait = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";

int maxChannelDifference(QRgb p, QRgb q) {
    return std::max(
        {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
}

double luminance(QRgb p) {
    return 0.2126 * qRed(p) + 0.7152 * qGreen(p) + 0.0722 * qBlue(p);
}

std::string angleName(int id) {
    static const char* const names[] = {"Desk", "Screen", "Host", "Crane"};
    return names[id];
}

class PresenterInSet : public ::testing::TestWithParam<int> {
  public:
    static bool cutoutsMade() {
        return cutout_ && !cutout_->isNull() && wideCutout_ && !wideCutout_->isNull();
    }
    static const QImage& cutout() { return *cutout_; }
    static const QImage& wideCutout() { return *wideCutout_; }
    static void SetUpTestSuite() {
        engine_ = vantry::VantryMetalEngine::create().release();
        // scripts/install-deps brings the astronaut (python3-skimage) and the segmentation model.
        QImage picture(kPortrait);
        if (picture.isNull()) return;
        picture = picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
        vantry::platform::OnnxPersonSegmenter segmenter(vantry::platform::SegmentationModel::general);
        vantry::creator::FacecamFrameProcessor processor(&segmenter);
        cutout_ = new QImage(processor.process(vantry::creator::wrapImage(picture), {}));
        // The same photograph framed wide: half as large, at the bottom of a plain background.
        QImage wide(picture.width() * 2, picture.height() * 2, QImage::Format_ARGB32);
        wide.fill(QColor(118, 124, 131));
        {
            QPainter painter(&wide);
            painter.drawImage(QRect(picture.width() / 2, picture.height(), picture.width(), picture.height()),
                              picture);
        }
        vantry::creator::FacecamFrameProcessor wideProcessor(&segmenter);
        wideCutout_ = new QImage(wideProcessor.process(vantry::creator::wrapImage(wide), {}));
    }
    static void TearDownTestSuite() {
        delete engine_;
        delete cutout_;
        delete wideCutout_;
        engine_ = nullptr;
        cutout_ = nullptr;
        wideCutout_ = nullptr;
    }

  protected:
    void SetUp() override {
        ASSERT_NE(engine_, nullptr) << "no OpenGL 3.3 context through EGL";
        ASSERT_TRUE(cutout_ && !cutout_->isNull()) << "the astronaut could not be cut out";
        engine_->loadSet(BroadcastStudioSet::manhattanLoft);
        engine_->setCameraAngle(angle());
        engine_->setKeyLightGain(1.35f);
        engine_->setInSetPresenterPlace({});
    }
    void TearDown() override { engine_->setKeyLightGain(1.35f); }

    BroadcastCameraAngle angle() const { return *BroadcastCameraAngle::fromRawValue(GetParam()); }

    QImage render(bool withPresenter) {
        engine_->setInSetPresenter(withPresenter ? *cutout_ : QImage());
        QImage frame = engine_->renderOffscreenCGImage(kWidth, kHeight, kTime);
        EXPECT_FALSE(frame.isNull());
        return frame;
    }

    // Pixel position of a world point in the offscreen frame (row 0 at the top).
    QPointF project(Float3 p) const {
        const vantry::StageUniforms u = vantry::studio::camera::makeStageUniforms(
            BroadcastStudioSet::manhattanLoft, angle(), kTime, 1.35f, 1.25f, 1.15f, float(kWidth) / kHeight);
        const auto& m = u.viewProj.columns;
        const float x = m[0].x * p.x + m[1].x * p.y + m[2].x * p.z + m[3].x;
        const float y = m[0].y * p.x + m[1].y * p.y + m[2].y * p.z + m[3].y;
        const float w = m[0].w * p.x + m[1].w * p.y + m[2].w * p.z + m[3].w;
        return {(x / w * 0.5 + 0.5) * kWidth, (0.5 - y / w * 0.5) * kHeight};
    }

    // The presenter's quad in the frame.
    std::array<Float3, 4> presenterQuad() const {
        const auto eye = vantry::studio::camera::cameraRig(angle(), kTime).eye;
        return vantry::studio::presenterQuadFor(engine_->inSetPresenterPlace(),
                                                float(cutout_->width()) / float(cutout_->height()), eye,
                                                engine_->inSetPresenterHead())
            .corners;
    }

    // The presenter quad's bounding box on screen, clipped to the frame.
    QRect presenterRect() const {
        const auto quad = presenterQuad();
        QRectF box;
        for (const Float3& c : quad) box |= QRectF(project(c), QSizeF(1, 1));
        return box.toAlignedRect().intersected(QRect(0, 0, kWidth, kHeight));
    }

    static vantry::VantryMetalEngine* engine_;
    static QImage* cutout_;
    static QImage* wideCutout_;
};
vantry::VantryMetalEngine* PresenterInSet::engine_ = nullptr;
QImage* PresenterInSet::cutout_ = nullptr;
QImage* PresenterInSet::wideCutout_ = nullptr;

std::optional<vantry::studio::HeadMeasure> headIn(const QImage& cutout) {
    return vantry::studio::measureHead(cutout.constBits() + 3, cutout.width(), cutout.height(), 4,
                                       int(cutout.bytesPerLine()));
}

TEST_P(PresenterInSet, DeskHidesTheLowerBodyAndTheHeadShowsAboveIt) {
    const QImage alone = render(false);
    const QImage inSet = render(true);
    const QRect rect = presenterRect();
    ASSERT_GT(rect.width(), 20);

    // The desk's faces towards the cameras, sampled inside their edges: its front (z = 1.075)
    // and its top (y = 0.88). Every sample in the presenter's box is the studio's own pixel.
    std::vector<Float3> desk;
    for (float x = -2.05f; x <= 1.35f; x += 0.05f) {
        for (float y = 0.06f; y <= 0.78f; y += 0.04f) desk.push_back({x, y, 1.076f});
        for (float z = 0.02f; z <= 1.08f; z += 0.04f) desk.push_back({x, 0.881f, z});
    }
    int occluded = 0;
    for (const Float3& point : desk) {
        const QPoint p = project(point).toPoint();
        if (!rect.contains(p)) continue;
        ++occluded;
        ASSERT_LE(maxChannelDifference(inSet.pixel(p), alone.pixel(p)), 1)
            << "desk at " << point.x << ", " << point.y << ", " << point.z;
    }
    EXPECT_GT(occluded, 50);

    // Above the desk top (the presenter's plane at 1.0, above the 0.88 desk top): a good share
    // of the box now shows the presenter.
    const auto place = engine_->inSetPresenterPlace();
    const int deskLine = std::clamp(int(project({place.x, 1.0f, place.z}).y()), rect.top(), rect.bottom());
    int changed = 0, total = 0;
    for (int y = rect.top(); y < deskLine; ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x, ++total) {
            if (maxChannelDifference(inSet.pixel(x, y), alone.pixel(x, y)) > 6) ++changed;
        }
    }
    ASSERT_GT(total, 0);
    EXPECT_GT(double(changed) / total, 0.15);

    // Away from the presenter and the part of the set its shadow can fall on (the screen bounds
    // of the shadow's hull) the frame is the studio alone.
    const QRect near = rect.adjusted(-2, -2, 2, 2);
    QRect shadow;
    if (const auto hull = vantry::studio::presenterShadowHull(presenterQuad())) {
        QRectF box;
        for (const Float3& c : *hull) box |= QRectF(project(c), QSizeF(1, 1));
        shadow = box.toAlignedRect().adjusted(-2, -2, 2, 2);
    }
    int outside = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (!near.contains(x, y) && !shadow.contains(x, y) && inSet.pixel(x, y) != alone.pixel(x, y))
                ++outside;
        }
    }
    EXPECT_EQ(outside, 0);
}

TEST_P(PresenterInSet, KeyLightBrightensThePresenterWithTheSet) {
    const QImage alone = render(false);
    const QImage inSet = render(true);
    const QRect rect = presenterRect();
    // The presenter's pixels: where it changed the studio; the set's: everything outside its box.
    std::vector<QPoint> presenter;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (maxChannelDifference(inSet.pixel(x, y), alone.pixel(x, y)) > 12) presenter.emplace_back(x, y);
    ASSERT_GT(presenter.size(), 200u);

    const auto means = [&](float key) {
        engine_->setKeyLightGain(key);
        const QImage frame = render(true);
        double person = 0, set = 0;
        int setCount = 0;
        for (const QPoint& p : presenter) person += luminance(frame.pixel(p));
        for (int y = 0; y < kHeight; y += 3)
            for (int x = 0; x < kWidth; x += 3)
                if (!rect.contains(x, y)) set += luminance(frame.pixel(x, y)), ++setCount;
        return std::pair{person / double(presenter.size()), set / setCount};
    };
    const auto [personDim, setDim] = means(0.5f);
    const auto [personBright, setBright] = means(2.0f);
    EXPECT_GT(setBright, setDim + 5);
    EXPECT_GT(personBright, personDim + 5);
}

// The photograph as it is (head and shoulders) and framed wide (the person half as large, low in
// the picture): each placed by the head found in its own cut-out, the astronaut's real head
// (measured in the close picture, where it is large) is life size in the set, at one height.
TEST(PresenterInSetFraming, TheAstronautIsLifeSizeWhateverTheFraming) {
    PresenterInSet::SetUpTestSuite();
    ASSERT_TRUE(PresenterInSet::cutoutsMade());
    const QImage close = PresenterInSet::cutout();
    const QImage wide = PresenterInSet::wideCutout();
    PresenterInSet::TearDownTestSuite();
    const auto closeHead = headIn(close);
    const auto wideHead = headIn(wide);
    ASSERT_TRUE(closeHead && wideHead);
    // The same head in the wide picture's units: half the size, moved down by half its height.
    const float trueWidth = closeHead->width * 0.5f;
    const float trueTop = closeHead->top * 0.5f + 0.5f;
    const auto metresPerHeight = [](const QImage& cutout, const vantry::studio::HeadMeasure& head) {
        const auto q = vantry::studio::framedPresenterQuad({}, float(cutout.width()) / float(cutout.height()),
                                                           {0, 1.6f, 5}, head);
        return std::pair{(q.corners[2].y - q.corners[0].y) / q.bottomV, q.corners[2].y};
    };
    const auto [closeMetres, closeQuadTop] = metresPerHeight(close, *closeHead);
    const auto [wideMetres, wideQuadTop] = metresPerHeight(wide, *wideHead);
    const float closeWidth = closeHead->width * closeMetres;
    const float wideWidth = trueWidth * wideMetres;
    const float closeTop = closeQuadTop - closeHead->top * closeMetres;
    const float wideTop = wideQuadTop - trueTop * wideMetres;
    std::printf("head: close %.3f wide, top %.3f; wide picture %.3f wide (true %.3f), top %.3f (true %.3f)\n",
                closeHead->width, closeHead->top, wideHead->width, trueWidth, wideHead->top, trueTop);
    std::printf("in the set: close %.4f m wide, top at %.3f m; wide %.4f m, top at %.3f m\n", closeWidth,
                closeTop, wideWidth, wideTop);
    EXPECT_NEAR(wideWidth / closeWidth, 1.0f, 0.15f);
    EXPECT_NEAR(wideTop, closeTop, 0.05f);
}

INSTANTIATE_TEST_SUITE_P(EveryAngle, PresenterInSet, ::testing::Values(0, 1, 2, 3),
                         [](const auto& info) { return angleName(info.param); });

}  // namespace
