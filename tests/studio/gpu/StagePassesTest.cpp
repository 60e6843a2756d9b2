// The ways a whole stage pass can draw (by material, depth first, hidden faces skipped by query
// or behind their box's opposite face, sky behind, sky in the gaps only) against the single program in set
// order: the same pixels, bit for bit after the resolve, for every set and angle at full size, with the
// built-in wall, a loaded picture and a presenter in the set.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "studio/gpu/StageRenderer.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry {
namespace {

using studio::gl::StageRenderer;
using Pixels = std::vector<std::uint8_t>;

constexpr int kW = 1920;
constexpr int kH = 1080;

// What one frame shows: set, angle and what stands in it.
struct Shot {
    BroadcastStudioSet set;
    BroadcastCameraAngle angle;
    bool picture = false;    // a painted picture on the wall instead of the built-in one
    bool presenter = false;  // a cut-out standing in the set
    float time = 1.5f;       // animation time: where the moving cameras are
};

QImage wallPicture() {
    QImage picture(640, 360, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(30, 90, 200));
    painter.setBrush(QColor(240, 200, 40));
    painter.drawEllipse(QRectF(120, 60, 400, 240));
    return picture;
}

QImage cutOut() {
    QImage picture(96, 144, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 120, 90));
    painter.drawEllipse(QRectF(28, 6, 40, 44));
    painter.drawRoundedRect(QRectF(12, 46, 72, 98), 20, 20);
    return picture;
}

std::vector<Shot> allShots() {
    std::vector<Shot> shots;
    for (auto set : BroadcastStudioSet::allCases()) {
        for (auto angle : BroadcastCameraAngle::allCases()) shots.push_back({set, angle});
    }
    shots.push_back({BroadcastStudioSet::manhattanLoft, BroadcastCameraAngle::wideDesk, true, false});
    shots.push_back({BroadcastStudioSet::timberPodcast, BroadcastCameraAngle::wideDesk, false, true});
    shots.push_back({BroadcastStudioSet::manhattanLoft, BroadcastCameraAngle::allCases().back(), true, true});
    return shots;
}

std::string nameOf(const Shot& s) {
    return std::string(s.set.rawValue()) + " angle " + std::to_string(s.angle.rawValue()) + " at " +
           std::to_string(s.time) + (s.picture ? " picture" : "") + (s.presenter ? " presenter" : "");
}

// Every shot drawn by a fresh engine (no frame kept from another way of drawing).
std::vector<Pixels> renderAll(unsigned flags, const std::vector<Shot>& shots) {
    StageRenderer::setPassFlags(flags);
    auto engine = VantryMetalEngine::create();
    std::vector<Pixels> frames;
    if (!engine) return frames;
    const QImage picture = wallPicture();
    const QImage presenter = cutOut();
    for (const Shot& s : shots) {
        engine->loadSet(s.set);
        engine->setCameraAngle(s.angle);
        if (s.picture) {
            engine->showLEDWallPicture(picture, "Painted");
        } else {
            engine->showBuiltInWall();
        }
        engine->setInSetPresenter(s.presenter ? presenter : QImage());
        auto px = engine->renderOffscreenBGRA(kW, kH, s.time);
        frames.push_back(px ? std::move(*px) : Pixels());
    }
    return frames;
}

class StagePasses : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        shots_ = allShots();
        reference_ = renderAll(0, shots_);
    }
    static void TearDownTestSuite() {
        StageRenderer::setPassFlags(StageRenderer::kDefaultPasses);
        reference_.clear();
    }
    void TearDown() override { StageRenderer::setPassFlags(StageRenderer::kDefaultPasses); }

    static void expectSameAsReference(unsigned flags) {
        expectSame(shots_, reference_, renderAll(flags, shots_), flags);
    }

    static void expectSame(const std::vector<Shot>& shots, const std::vector<Pixels>& reference,
                           const std::vector<Pixels>& frames, unsigned flags) {
        ASSERT_EQ(reference.size(), shots.size()) << "no OpenGL 3.3 core context could be created";
        ASSERT_EQ(frames.size(), shots.size());
        for (std::size_t i = 0; i < shots.size(); ++i) {
            ASSERT_EQ(reference[i].size(), std::size_t(kW) * kH * 4) << nameOf(shots[i]);
            ASSERT_EQ(frames[i].size(), reference[i].size()) << nameOf(shots[i]);
            std::size_t differing = 0;
            std::size_t firstDifference = 0;
            for (std::size_t b = 0; b < frames[i].size(); ++b) {
                if (frames[i][b] == reference[i][b]) continue;
                if (differing++ == 0) firstDifference = b;
            }
            EXPECT_EQ(differing, 0u) << nameOf(shots[i]) << " flags " << flags << ": first at pixel "
                                     << (firstDifference / 4) % kW << "," << (firstDifference / 4) / kW;
        }
    }

    static std::vector<Shot> shots_;
    static std::vector<Pixels> reference_;
};

std::vector<Shot> StagePasses::shots_;
std::vector<Pixels> StagePasses::reference_;

TEST_F(StagePasses, EveryWayDrawsTheSamePixels) {
    using R = StageRenderer;
    for (unsigned flags :
         {unsigned(R::kDefaultPasses), unsigned(R::kByMaterial), unsigned(R::kDepthFirst),
          unsigned(R::kSkyBehind), unsigned(R::kByMaterial | R::kEarlyDepthTest),
          unsigned(R::kDefaultPasses | R::kDepthFirst | R::kEarlyDepthTest),
          unsigned(R::kDepthFirst | R::kSkipHidden), unsigned(R::kSkyBehind | R::kSkyInGaps),
          unsigned(R::kByMaterial | R::kSkyBehind | R::kDepthFirst | R::kSkipHidden | R::kSkyInGaps),
          unsigned(R::kSkipOpposite), unsigned(R::kByMaterial | R::kSkipOpposite | R::kSkipCovered)}) {
        SCOPED_TRACE(flags);
        expectSameAsReference(flags);
    }
}

// Faces left out where nearer ones cover them, the sky only in the gaps: the moving cameras see
// the set from ever other places, each of them drawn as the single program draws it.
TEST_F(StagePasses, TheMovingCamerasDrawTheSamePixelsAllAlongTheirPaths) {
    std::vector<Shot> shots;
    for (auto set : BroadcastStudioSet::allCases()) {
        for (auto angle : {BroadcastCameraAngle::wideDesk, BroadcastCameraAngle::sweepingCrane}) {
            for (float time : {0.0f, 2.6f, 5.2f, 13.0f, 19.5f})
                shots.push_back({set, angle, false, false, time});
        }
    }
    shots.push_back(
        {BroadcastStudioSet::keynoteArena, BroadcastCameraAngle::sweepingCrane, true, true, 7.8f});
    const auto reference = renderAll(0, shots);
    expectSame(shots, reference, renderAll(StageRenderer::kDefaultPasses, shots),
               StageRenderer::kDefaultPasses);
}

TEST_F(StagePasses, ReferenceFramesShowTheSet) {
    // Guards the comparison: the reference frames are real pictures, not all one colour.
    ASSERT_EQ(reference_.size(), shots_.size());
    for (std::size_t i = 0; i < shots_.size(); ++i) {
        ASSERT_FALSE(reference_[i].empty()) << nameOf(shots_[i]);
        std::size_t different = 0;
        for (std::size_t b = 4; b < reference_[i].size(); b += 4)
            different += reference_[i][b] != reference_[i][0];
        EXPECT_GT(different, reference_[i].size() / 16) << nameOf(shots_[i]);
    }
}

}  // namespace
}  // namespace vantry
