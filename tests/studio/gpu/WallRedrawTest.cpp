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

#include "platform/gl/EglOffscreenContext.h"
#include "studio/SetGeometry.h"
#include "studio/gpu/StageRenderer.h"
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

// One engine keeps its frames while the set, the still angle and the frame's size change between
// wall pictures: each wall pass after a change gives the full redraw's frame (what the wall pass
// may leave out is found again for the new stage), with and without leaving out what it can.
TEST(WallRedraw, WallPassesAfterASetAngleOrSizeChangeGiveTheFullRedrawsFrame) {
    using studio::gl::StageRenderer;
    struct Step {
        BroadcastStudioSet set;
        BroadcastCameraAngle angle;
        int width;
        int height;
    };
    const Step steps[] = {
        {BroadcastStudioSet::manhattanLoft, BroadcastCameraAngle::screenShoulder, kWidth, kHeight},
        {BroadcastStudioSet::manhattanLoft, BroadcastCameraAngle::tightHost, kWidth, kHeight},
        {BroadcastStudioSet::neonCreatorDesk, BroadcastCameraAngle::tightHost, kWidth, kHeight},
        {BroadcastStudioSet::neonCreatorDesk, BroadcastCameraAngle::screenShoulder, kWidth, kHeight},
        {BroadcastStudioSet::neonCreatorDesk, BroadcastCameraAngle::screenShoulder, 288, 162},
        {BroadcastStudioSet::manhattanLoft, BroadcastCameraAngle::screenShoulder, kWidth, kHeight},
    };
    for (const unsigned flags : {unsigned(StageRenderer::kDefaultPasses),
                                 StageRenderer::kDefaultPasses & ~StageRenderer::kWallWinnersOnly}) {
        SCOPED_TRACE(::testing::Message() << "passes " << flags);
        StageRenderer::setPassFlags(flags);
        auto kept = VantryMetalEngine::create();
        ASSERT_TRUE(kept);
        float t = 0.0f;
        int seed = 10;
        for (const Step& step : steps) {
            SCOPED_TRACE(::testing::Message()
                         << "angle " << step.angle.rawValue() << ", " << step.width << "x" << step.height);
            const auto prepare = [&](VantryMetalEngine& e) {
                e.loadSet(step.set);
                e.setCameraAngle(step.angle);
            };
            prepare(*kept);
            ASSERT_TRUE(kept->renderOffscreenBGRA(step.width, step.height, t));
            for (int n = 0; n < 2; ++n) {
                const QImage picture = vantry::testing::detailedWallPicture(1280, 720, ++seed);
                kept->showLEDWallPicture(picture, "Video");
                t += 1.0f / 30.0f;
                const auto before = kept->drawCounts();
                const auto frame = kept->renderOffscreenBGRA(step.width, step.height, t);
                EXPECT_EQ(kept->drawCounts().wallPasses - before.wallPasses, 1);
                auto fresh = VantryMetalEngine::create();
                ASSERT_TRUE(fresh && frame);
                prepare(*fresh);
                fresh->showLEDWallPicture(picture, "Video");
                EXPECT_TRUE(*frame == fresh->renderOffscreenBGRA(step.width, step.height, t))
                    << "the partly drawn frame differs from a full redraw";
            }
        }
    }
    StageRenderer::setPassFlags(StageRenderer::kDefaultPasses);
}

// The wall pass straight on the renderer, over a set made for it: the LED wall's deep box with a
// lit box and a panel of mixed tags (drawn after the wall's material) flush with its front, so
// that fragments of other materials meet the wall's at equal depth, seen from the left, the
// right and above in turn (other faces of the wall's box show). Each wall pass over a stage kept
// from a whole pass gives the whole pass's frame, with and without leaving out triangles.
TEST(WallRedraw, TheWallPassOverAKeptStageGivesTheWholePassAtEqualDepthFromEverySide) {
    using studio::gl::FrameSnapshot;
    using studio::gl::MultisampleTarget;
    using studio::gl::StageRenderer;
    using studio::gl::WallImage;
    auto context = platform::gl::EglOffscreenContext::create();
    ASSERT_TRUE(context && context->makeCurrent());
    {
        auto renderer = StageRenderer::create();
        ASSERT_TRUE(renderer);
        auto set = std::make_shared<SetGeometry>();
        appendBox(false, set->vertices, set->indices, {0.0f, 0.0f, 0.0f}, {8.0f, 0.1f, 8.0f},
                  {0.5f, 0.5f, 0.5f}, material::kLit, 0.6f);
        appendBox(true, set->vertices, set->indices, {0.0f, 1.5f, -3.0f}, {4.0f, 2.0f, 0.6f}, {1, 1, 1},
                  material::kLEDWall, 0.1f);
        appendBox(false, set->vertices, set->indices, {-1.2f, 1.1f, -2.9f}, {0.8f, 0.8f, 0.4f},
                  {0.8f, 0.3f, 0.2f}, material::kLit, 0.4f);
        appendBox(false, set->vertices, set->indices, {1.0f, 1.9f, -2.8f}, {0.9f, 0.5f, 0.2f},
                  {0.2f, 0.6f, 0.9f}, 1.5f, 0.3f);
        const auto picture = [](int seed) {
            auto wall = std::make_shared<WallImage>();
            wall->width = 16;
            wall->height = 9;
            for (int i = 0; i < wall->width * wall->height; ++i) {
                const auto v = std::uint8_t((i * 37 + seed * 91) % 256);
                wall->rgba.insert(wall->rgba.end(), {v, std::uint8_t(255 - v), std::uint8_t(seed * 60), 255});
            }
            return std::shared_ptr<const WallImage>(std::move(wall));
        };
        const std::shared_ptr<const WallImage> pictures[2] = {picture(1), picture(2)};
        const studio::camera::CameraPose poses[] = {{{-3.5f, 1.6f, 4.0f}, {0.0f, 1.5f, -3.0f}},
                                                    {{3.8f, 1.4f, 3.0f}, {0.0f, 1.5f, -3.0f}},
                                                    {{0.5f, 4.5f, 3.5f}, {0.0f, 1.5f, -3.0f}}};
        MultisampleTarget kept, whole;
        ASSERT_TRUE(kept.ensure(kWidth, kHeight) && whole.ensure(kWidth, kHeight));
        std::uint64_t wallVersion = 0;
        const auto frameOf = [&](const studio::camera::CameraPose& pose, int picture) {
            FrameSnapshot f;
            f.geometry = set;
            f.setVersion = 1;
            f.wall = pictures[picture];
            f.wallVersion = ++wallVersion;
            f.uniforms =
                studio::camera::makeStageUniforms(BroadcastStudioSet::manhattanLoft, pose, 0.0f, 1.35f, 1.25f,
                                                  1.15f, float(kWidth) / float(kHeight));
            return f;
        };
        for (const unsigned flags : {unsigned(StageRenderer::kDefaultPasses),
                                     StageRenderer::kDefaultPasses & ~StageRenderer::kWallWinnersOnly}) {
            StageRenderer::setPassFlags(flags);
            for (std::size_t p = 0; p < std::size(poses); ++p) {
                SCOPED_TRACE(::testing::Message() << "passes " << flags << ", pose " << p);
                kept.beginPass();
                renderer->encodeStagePass(frameOf(poses[p], 0), -1.0f);
                Pixels previous(std::size_t(kWidth) * kHeight * 4);
                ASSERT_TRUE(kept.readBGRA(previous.data()));
                for (const int next : {1, 0, 1}) {
                    const FrameSnapshot frame = frameOf(poses[p], next);
                    const auto bounds =
                        wallScreenBounds(*set, frame.uniforms.viewProj, -1.0f, kWidth, kHeight);
                    ASSERT_TRUE(bounds && !bounds->empty());
                    kept.resumePass();
                    renderer->encodeStagePass(frame, -1.0f, &*bounds);
                    Pixels partly(previous.size()), full(previous.size());
                    ASSERT_TRUE(kept.readBGRA(partly.data()));
                    whole.beginPass();
                    renderer->encodeStagePass(frame, -1.0f);
                    ASSERT_TRUE(whole.readBGRA(full.data()));
                    EXPECT_NE(partly, previous) << "the change does not show";
                    EXPECT_TRUE(partly == full) << "the wall pass differs from a whole pass";
                    previous = partly;
                }
            }
        }
        StageRenderer::setPassFlags(StageRenderer::kDefaultPasses);
    }
    context->doneCurrent();
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
