// A new wall picture at a still angle draws the stage again only within the wall's screen, over
// the kept frame: every kind of wall change, at every still angle, with nobody, and with the
// presenter standing in the set, gives the frame a full redraw gives, bit for bit, offscreen (read
// back only where it changed) and in the live view. At a moving angle the picture joins the
// frame drawn anyway.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdint>
#include <memory>
#include <vector>

#include "studio/SetGeometry.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "tests/studio/gpu/LiveSurfaceFixture.h"
#include "tests/support/WallChanges.h"

namespace vantry {
namespace {

using Pixels = std::vector<std::uint8_t>;
using vantry::testing::applyToAll;
using vantry::testing::wallChanges;

// Offscreen frames of this size; the live view draws the fixture's.
constexpr int kWidth = 320;
constexpr int kHeight = 180;

QImage standingFigure() {
    QImage picture(96, 144, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(200, 140, 110, 230));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(28, 6, 40, 44));
    painter.drawRoundedRect(QRectF(12, 46, 72, 98), 20, 20);
    return picture;
}

Pixels render(VantryMetalEngine& engine, float time) {
    auto pixels = engine.renderOffscreenBGRA(kWidth, kHeight, time);
    return pixels ? std::move(*pixels) : Pixels{};
}

// The angles whose frames are kept.
const BroadcastCameraAngle kStillAngles[] = {BroadcastCameraAngle::screenShoulder,
                                             BroadcastCameraAngle::tightHost};

// Each frame against a fresh engine given only the angle, the presenter and the change (which
// draws it in full and uploads the wall's picture into a new texture).
TEST(WallRedraw, AWallChangeAtAStillAngleDrawsOnlyTheWallAndGivesTheFullRedrawsFrame) {
    for (const BroadcastCameraAngle angle : kStillAngles) {
        for (const bool presenter : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << "angle " << angle.rawValue() << ", presenter in the set " << presenter);
            const auto prepare = [&](VantryMetalEngine& e) {
                e.setCameraAngle(angle);
                e.setInSetPresenter(presenter ? standingFigure() : QImage());
            };
            auto kept = VantryMetalEngine::create();  // keeps its frames
            ASSERT_TRUE(kept);
            prepare(*kept);
            Pixels previous = render(*kept, 0.0f);
            ASSERT_FALSE(previous.empty());
            float t = 0.0f;
            for (const auto& change : wallChanges()) {
                SCOPED_TRACE(change.what);
                change.apply(*kept);
                t += 1.0f / 30.0f;
                const auto before = kept->drawCounts();
                const Pixels frame = render(*kept, t);
                const auto after = kept->drawCounts();
                auto fresh = VantryMetalEngine::create();
                ASSERT_TRUE(fresh);
                prepare(*fresh);
                change.apply(*fresh);
                ASSERT_FALSE(frame.empty());
                EXPECT_NE(frame, previous) << "the change does not show";
                EXPECT_TRUE(frame == render(*fresh, t))
                    << "the partly drawn frame differs from a full redraw";
                EXPECT_EQ(after.stagePasses - before.stagePasses, 0);
                EXPECT_EQ(after.wallPasses - before.wallPasses, 1);
                EXPECT_EQ(after.presenterPasses - before.presenterPasses, presenter ? 1 : 0);
                EXPECT_EQ(after.wallPresenterPasses - before.wallPresenterPasses, presenter ? 1 : 0);
                previous = frame;
            }
        }
    }
}

TEST(WallRedraw, AtAMovingAngleAWallChangeJoinsTheFrameDrawnInFull) {
    auto engine = VantryMetalEngine::create();
    auto full = VantryMetalEngine::create();
    ASSERT_TRUE(engine && full);
    for (VantryMetalEngine* e : {engine.get(), full.get()}) {
        e->setCameraAngle(BroadcastCameraAngle::wideDesk);
        e->setInSetPresenter(standingFigure());
    }
    render(*engine, 0.0f);
    float t = 0.0f;
    for (const auto& change : wallChanges()) {
        SCOPED_TRACE(change.what);
        applyToAll(change, {engine.get(), full.get()});
        t += 1.0f / 30.0f;
        const auto before = engine->drawCounts();
        const Pixels frame = render(*engine, t);
        const auto after = engine->drawCounts();
        EXPECT_TRUE(frame == render(*full, t));
        EXPECT_EQ(after.stagePasses - before.stagePasses, 1);
        EXPECT_EQ(after.wallPasses - before.wallPasses, 0);
        EXPECT_EQ(after.wallPresenterPasses - before.wallPresenterPasses, 0);
    }
}

// The live view draws in GL's orientation: its wall pass against a full redraw of the same
// frame in the same context (the set loaded again), and the program feed following the live
// clock takes the live view's partly drawn frames.
TEST_F(LiveFrameTest, AWallChangeInTheLiveViewGivesTheFullRedrawsPicture) {
    for (const BroadcastCameraAngle angle : kStillAngles) {
        for (const bool presenter : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << "angle " << angle.rawValue() << ", presenter in the set " << presenter);
            engine_->setCameraAngle(angle);
            engine_->setInSetPresenter(presenter ? standingFigure() : QImage());
            for (const bool feed : {false, true}) {
                SCOPED_TRACE(feed ? "the program feed following" : "the live view alone");
                now_ += 2.0;  // a feed asking earlier no longer counts
                if (feed) {
                    ASSERT_TRUE(engine_->renderOffscreenBGRA(kW, kH, std::nullopt));
                }
                now_ += 1.0 / 30.0;
                engine_->drawInSurface(surface());
                for (const auto& change : wallChanges()) {
                    SCOPED_TRACE(change.what);
                    change.apply(*engine_);
                    now_ += 1.0 / 30.0;
                    const auto before = engine_->drawCounts();
                    engine_->drawInSurface(surface());
                    const auto taken =
                        feed ? engine_->renderOffscreenBGRA(kW, kH, std::nullopt) : std::nullopt;
                    const auto after = engine_->drawCounts();
                    const Pixels partly = windowPicture();
                    EXPECT_EQ(after.stagePasses - before.stagePasses, 0);
                    EXPECT_EQ(after.wallPasses - before.wallPasses, 1);
                    EXPECT_EQ(after.wallPresenterPasses - before.wallPresenterPasses, presenter ? 1 : 0);

                    engine_->loadSet(BroadcastStudioSet::manhattanLoft);
                    now_ += 1.0 / 30.0;
                    engine_->drawInSurface(surface());
                    EXPECT_TRUE(partly == windowPicture()) << "the window differs from a full redraw";
                    if (feed) {
                        const auto drawn = engine_->renderOffscreenBGRA(kW, kH, std::nullopt);
                        ASSERT_TRUE(taken && drawn);
                        EXPECT_TRUE(*taken == *drawn) << "the feed's frame differs from a full redraw";
                    }
                }
            }
        }
    }
}

// The wall's bounds hold every pixel of its screen: outside them a frame with a white wall and
// one with a black wall are alike, and within them they differ.
TEST(WallRedraw, TheWallsBoundsHoldItsScreen) {
    auto engine = VantryMetalEngine::create();
    ASSERT_NE(engine, nullptr);
    const SetGeometry set = buildStudioSet(BroadcastStudioSet::manhattanLoft);
    QImage white(256, 144, QImage::Format_ARGB32_Premultiplied);
    white.fill(Qt::white);
    QImage black = white.copy();
    black.fill(Qt::black);
    for (const BroadcastCameraAngle angle : BroadcastCameraAngle::allCases()) {
        SCOPED_TRACE(angle.rawValue());
        engine->setCameraAngle(angle);
        const float t = 0.5f;
        const auto uniforms = studio::camera::makeStageUniforms(
            BroadcastStudioSet::manhattanLoft, angle, t, 1.35f, 1.25f, 1.15f, float(kWidth) / float(kHeight));
        // Offscreen frames put picture row 0 at framebuffer row 0.
        const auto bounds = wallScreenBounds(set, uniforms.viewProj, -1.0f, kWidth, kHeight);
        ASSERT_TRUE(bounds.has_value());
        ASSERT_FALSE(bounds->empty());
        engine->showLEDWallPicture(white, "white");
        const Pixels lit = render(*engine, t);
        engine->showLEDWallPicture(black, "black");
        const Pixels dark = render(*engine, t);
        bool differsWithin = false;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t i = (std::size_t(y) * kWidth + std::size_t(x)) * 4;
                const bool same =
                    std::equal(lit.begin() + std::ptrdiff_t(i), lit.begin() + std::ptrdiff_t(i) + 4,
                               dark.begin() + std::ptrdiff_t(i));
                const bool within = x >= bounds->x && x < bounds->x + bounds->width && y >= bounds->y &&
                                    y < bounds->y + bounds->height;
                if (!within) {
                    ASSERT_TRUE(same) << "pixel " << x << ", " << y << " outside the bounds";
                }
                differsWithin = differsWithin || !same;
            }
        }
        EXPECT_TRUE(differsWithin);
    }
}

}  // namespace
}  // namespace vantry
