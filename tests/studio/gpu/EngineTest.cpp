// The engine's camera rig, aspect rules, live clock, frame-rate reports, wall image
// loading and offscreen frames.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/gl/EglOffscreenContext.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "studio/gpu/WallImageLoader.h"
#include "tests/studio/gpu/LiveSurfaceFixture.h"
#include "tests/studio/gpu/StudioReference.h"

namespace vantry {
namespace {

namespace cam = studio::camera;

TEST(DirectorCamera, RigAtTimeZero) {
    const auto wide = cam::cameraRig(BroadcastCameraAngle::wideDesk, 0);
    EXPECT_EQ(wide.eye, (Float3{0, 1.95f, 5.4f}));
    EXPECT_EQ(wide.target, (Float3{0.25f, 1.55f, -1.6f}));
    const auto crane = cam::cameraRig(BroadcastCameraAngle::sweepingCrane, 0);
    EXPECT_FLOAT_EQ(crane.eye.x, 0);
    EXPECT_FLOAT_EQ(crane.eye.y, 3.4f);
    EXPECT_FLOAT_EQ(crane.eye.z, 5.6f);
    // The static angles do not move with time.
    EXPECT_EQ(cam::cameraRig(BroadcastCameraAngle::tightHost, 9.0f).eye, (Float3{-0.7f, 1.55f, 3.2f}));
    const auto crane2 = cam::cameraRig(BroadcastCameraAngle::sweepingCrane, 2.0f);
    EXPECT_FLOAT_EQ(crane2.eye.x, 3.8f * std::sin(1.2f));
    EXPECT_FLOAT_EQ(crane2.eye.y, 3.0f + 0.4f * std::cos(1.0f));
}

TEST(DirectorCamera, LookAtPutsTheTargetOnTheNegativeZAxis) {
    const Float3 eye{-1.6f, 1.85f, 3.6f};
    const Float3 target{1.15f, 2.05f, -3.0f};
    const Float4x4 v = cam::lookAt(eye, target, {0, 1, 0});
    const auto apply = [&](Float3 p) {
        const auto& c = v.columns;
        return Float3{c[0].x * p.x + c[1].x * p.y + c[2].x * p.z + c[3].x,
                      c[0].y * p.x + c[1].y * p.y + c[2].y * p.z + c[3].y,
                      c[0].z * p.x + c[1].z * p.y + c[2].z * p.z + c[3].z};
    };
    const Float3 e = apply(eye);
    EXPECT_NEAR(e.x, 0, 1e-5);
    EXPECT_NEAR(e.y, 0, 1e-5);
    EXPECT_NEAR(e.z, 0, 1e-5);
    const Float3 t = apply(target);
    EXPECT_NEAR(t.x, 0, 1e-5);
    EXPECT_NEAR(t.y, 0, 1e-5);
    EXPECT_LT(t.z, -7.0f);
    EXPECT_EQ(v.columns[0].w, 0);
    EXPECT_EQ(v.columns[3].w, 1);
}

TEST(DirectorCamera, ProjectionAndAspectRules) {
    EXPECT_FLOAT_EQ(cam::liveAspect(1920, 1080), 1.7777778f);
    EXPECT_FLOAT_EQ(cam::liveAspect(800, 1200), 1.0f);
    EXPECT_FLOAT_EQ(cam::liveAspect(640, 0), 640.0f);
    EXPECT_FLOAT_EQ(cam::offscreenAspect(800, 1200), 800.0f / 1200.0f);  // no lower bound offscreen
    EXPECT_FLOAT_EQ(cam::offscreenAspect(4, 0), 4.0f);
    const Float4x4 p = cam::studioProjection(cam::liveAspect(1920, 1080));
    EXPECT_NEAR(p.columns[0].x, 1.3922362f, 1e-6);
    EXPECT_EQ(p.columns[0].y, 0);
    EXPECT_NEAR(p.columns[1].y, 2.4750867f, 1e-6);
    EXPECT_NEAR(p.columns[2].z, -1.0012516f, 1e-6);
    EXPECT_EQ(p.columns[2].w, -1);
    EXPECT_NEAR(p.columns[3].z, -0.10012516f, 1e-7);
    EXPECT_EQ(p.columns[3].w, 0);
}

TEST(DirectorCamera, UniformBlockLanes) {
    const StageUniforms u = cam::makeStageUniforms(
        BroadcastStudioSet::timberPodcast, BroadcastCameraAngle::wideDesk, 2.5f, 0.7f, 0.3f, 1.9f, 1.5f);
    EXPECT_EQ(u.cameraPos.w, 1.0f);
    EXPECT_EQ(u.accentAndNeon, (Float4{0.98f, 0.66f, 0.28f, 0.3f}));
    EXPECT_EQ(u.keyGainAndWallBright, (Float4{0.7f, 1.9f, 0, 0}));
    EXPECT_EQ(u.timeAndSet, (Float4{2.5f, 0, 0, 0}));
}

TEST(DirectorCamera, FrameStepIsClamped) {
    EXPECT_EQ(cam::clampFrameStep(2.0), 0.05);
    EXPECT_EQ(cam::clampFrameStep(0.0001), 0.001);
    EXPECT_EQ(cam::clampFrameStep(-1.0), 0.001);
    EXPECT_EQ(cam::clampFrameStep(0.016), 0.016);
}

TEST(FallbackWall, TealToBlueGradient) {
    const auto px = cam::makeFallbackWallPixels();
    ASSERT_EQ(px.size(), 256u * 144u * 4u);
    const auto at = [&](int x, int y, int c) {
        return int(px[(std::size_t(y) * 256 + std::size_t(x)) * 4 + std::size_t(c)]);
    };
    EXPECT_EQ(at(0, 0, 0), 20);
    EXPECT_EQ(at(0, 0, 1), 60);
    EXPECT_EQ(at(0, 0, 2), 120);
    EXPECT_EQ(at(255, 143, 1), 179);
    EXPECT_EQ(at(255, 143, 2), 219);
    EXPECT_EQ(at(128, 72, 1), 120);
    EXPECT_EQ(at(128, 72, 2), 170);
    EXPECT_EQ(at(17, 99, 3), 255);
}

class EngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { engine_ = VantryMetalEngine::create(); }
    static void TearDownTestSuite() { engine_.reset(); }
    void SetUp() override { ASSERT_NE(engine_, nullptr); }
    static std::filesystem::path tempPath(const std::string& name) {
        return std::filesystem::current_path() / ("engine_test_" + name);
    }
    static std::unique_ptr<VantryMetalEngine> engine_;
};
std::unique_ptr<VantryMetalEngine> EngineTest::engine_;

TEST_F(EngineTest, InitialParameters) {
    auto fresh = VantryMetalEngine::create();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->studioSet(), BroadcastStudioSet::manhattanLoft);
    EXPECT_EQ(fresh->cameraAngle(), BroadcastCameraAngle::wideDesk);
    EXPECT_FLOAT_EQ(fresh->keyLightGain(), 1.35f);
    EXPECT_FLOAT_EQ(fresh->neonAccentGain(), 1.25f);
    EXPECT_FLOAT_EQ(fresh->ledWallBrightness(), 1.15f);
    EXPECT_EQ(fresh->slideSourceName(), "Corvella Studio Deck");
    EXPECT_EQ(fresh->directorClock(), 0.0f);
    EXPECT_FALSE(fresh->onFPSUpdate());
    EXPECT_FALSE(fresh->deviceName().empty());
}

TEST_F(EngineTest, OffscreenTinyFrameAndImage) {
    const auto px = engine_->renderOffscreenBGRA(4, 2, std::nullopt);
    ASSERT_TRUE(px.has_value());
    ASSERT_EQ(px->size(), 32u);
    for (std::size_t i = 3; i < px->size(); i += 4) EXPECT_EQ((*px)[i], 255);
    EXPECT_FALSE(engine_->renderOffscreenBGRA(0, 10, 1.0f).has_value());

    const auto bytes = engine_->renderOffscreenBGRA(64, 36, 1.0f);
    const QImage img = engine_->renderOffscreenCGImage(64, 36, 1.0f);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.format(), QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(img.size(), QSize(64, 36));
    for (int y = 0; y < 36; ++y) {
        ASSERT_EQ(0, std::memcmp(img.constScanLine(y), bytes->data() + y * 64 * 4, 64 * 4));
    }
}

TEST_F(EngineTest, SameSetTwiceGivesTheSameFrame) {
    engine_->loadSet(BroadcastStudioSet::keynoteArena);
    const auto a = engine_->renderOffscreenBGRA(96, 54, 3.0f);
    engine_->loadSet(BroadcastStudioSet::keynoteArena);
    const auto b = engine_->renderOffscreenBGRA(96, 54, 3.0f);
    EXPECT_EQ(a, b);
    engine_->loadSet(BroadcastStudioSet::timberPodcast);
    EXPECT_NE(a, engine_->renderOffscreenBGRA(96, 54, 3.0f));
    EXPECT_EQ(engine_->studioSet(), BroadcastStudioSet::timberPodcast);
    engine_->loadSet(BroadcastStudioSet::manhattanLoft);
}

TEST_F(EngineTest, WallImagesAreClampedAndStretched) {
    QImage wide(4000, 1000, QImage::Format_RGB32);
    wide.fill(QColor(10, 200, 30));
    const auto widePath = tempPath("wide.png");
    ASSERT_TRUE(wide.save(QString::fromStdString(widePath.string())));
    const auto w = studio::gl::loadWallImage(widePath);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->width, 2048);
    EXPECT_EQ(w->height, 1000);
    EXPECT_EQ(w->rgba[0], 10);
    EXPECT_EQ(w->rgba[1], 200);
    EXPECT_EQ(w->rgba[2], 30);

    QImage tiny(10, 10, QImage::Format_ARGB32);
    tiny.fill(Qt::transparent);
    tiny.setPixel(9, 9, qRgba(255, 255, 255, 255));
    const auto tinyPath = tempPath("tiny.png");
    ASSERT_TRUE(tiny.save(QString::fromStdString(tinyPath.string())));
    const auto t = studio::gl::loadWallImage(tinyPath);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->width, 64);
    EXPECT_EQ(t->height, 64);
    // Transparent parts end up black, not white or undefined.
    EXPECT_EQ(t->rgba[0], 0);
    EXPECT_EQ(t->rgba[1], 0);
    EXPECT_EQ(t->rgba[2], 0);
    EXPECT_EQ(t->rgba[3], 0);
    // The white corner pixel was stretched over the bottom-right corner.
    const std::size_t last = (64u * 64u - 1u) * 4u;
    EXPECT_GT(t->rgba[last], 128);

    ASSERT_TRUE(engine_->loadLEDWallImage(tinyPath));
    EXPECT_EQ(engine_->slideSourceName(), "engine_test_tiny.png");
}

TEST_F(EngineTest, NonImageFileKeepsTheWallAndItsName) {
    QImage img(80, 80, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString(tempPath("keep.png").string())));
    ASSERT_TRUE(engine_->loadLEDWallImage(tempPath("keep.png")));
    const auto before = engine_->renderOffscreenBGRA(96, 54, 1.0f);
    const auto textPath = tempPath("notes.png");
    std::ofstream(textPath) << "this is not an image\n";
    EXPECT_FALSE(engine_->loadLEDWallImage(textPath));
    EXPECT_FALSE(engine_->loadLEDWallImage(tempPath("missing.jpg")));
    EXPECT_EQ(engine_->slideSourceName(), "engine_test_keep.png");
    EXPECT_EQ(before, engine_->renderOffscreenBGRA(96, 54, 1.0f));
}

TEST_F(LiveFrameTest, ClockAdvancesByTheClampedFrameTime) {
    now_ += 2.0;  // a two-second stall
    engine_->drawInSurface(surface());
    EXPECT_FLOAT_EQ(engine_->directorClock(), 0.05f);
    now_ += 0.0001;
    engine_->drawInSurface(surface());
    now_ += 0.0001;
    engine_->drawInSurface(surface());
    EXPECT_FLOAT_EQ(engine_->directorClock(), 0.052f);
    now_ += 0.02;
    engine_->drawInSurface(surface());
    EXPECT_NEAR(engine_->directorClock(), 0.072f, 1e-6);
    EXPECT_EQ(presented_, 4);

    // A surface without a drawable skips the frame, but the clock has moved on.
    StageRenderSurface none = surface();
    none.width = 0;
    now_ += 0.01;
    engine_->drawInSurface(none);
    EXPECT_NEAR(engine_->directorClock(), 0.082f, 1e-6);
    EXPECT_EQ(presented_, 4);
}

TEST_F(LiveFrameTest, LiveFrameMatchesTheOffscreenFrame) {
    engine_->setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    now_ += 0.04;
    engine_->drawInSurface(surface());
    std::vector<std::uint8_t> live(kW * kH * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
    glReadPixels(0, 0, kW, kH, GL_BGRA, GL_UNSIGNED_BYTE, live.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    const auto offscreen = engine_->renderOffscreenBGRA(kW, kH, std::nullopt);  // the live clock
    ASSERT_TRUE(offscreen.has_value());
    // Geometric edges resolve their samples differently when the picture is flipped.
    reference::Params p;
    p.angle = BroadcastCameraAngle::sweepingCrane;
    p.time = engine_->directorClock();
    const auto ref = reference::renderFrame(p, kW, kH, reference::fallbackWall());
    // The live target is in GL orientation (bottom row first).
    int differing = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            if (ref.edge[std::size_t(y) * kW + std::size_t(x)] != 0) continue;
            for (int c = 0; c < 4; ++c) {
                const int a = live[(std::size_t(kH - 1 - y) * kW + std::size_t(x)) * 4 + std::size_t(c)];
                const int b = (*offscreen)[(std::size_t(y) * kW + std::size_t(x)) * 4 + std::size_t(c)];
                if (std::abs(a - b) > 2) {
                    ++differing;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(differing, 0) << "live and offscreen pictures differ away from edges";
}

// A move between two still angles: every live frame of it is drawn anew (the held frame is never
// shown again), the program feed's frame at the live clock is on the way, and after the end
// the frame is still again.
TEST_F(LiveFrameTest, CameraMoveDrawsEveryFrameUntilItEnds) {
    const auto draw = [this] {
        now_ += 1.0 / 30.0;
        engine_->drawInSurface(surface());
    };
    const auto offscreen = [this] { return engine_->renderOffscreenBGRA(kW, kH, std::nullopt); };
    engine_->setCameraAngle(BroadcastCameraAngle::screenShoulder);
    draw();
    const auto shoulder = offscreen();
    ASSERT_TRUE(engine_->liveFrameUpToDate(context_.get(), kW, kH));

    engine_->moveCameraAngle(BroadcastCameraAngle::tightHost, 0.5f);
    EXPECT_TRUE(engine_->cameraMoving());
    EXPECT_EQ(engine_->cameraAngle(), BroadcastCameraAngle::tightHost);
    // Setting the angle it moves to (as a gain change's sync does) keeps the move.
    engine_->setCameraAngle(BroadcastCameraAngle::tightHost);
    EXPECT_TRUE(engine_->cameraMoving());
    int frames = 0;
    std::optional<std::vector<std::uint8_t>> onTheWay;
    while (engine_->cameraMoving() && frames < 100) {
        EXPECT_FALSE(engine_->liveFrameUpToDate(context_.get(), kW, kH)) << "frame " << frames;
        const auto before = engine_->drawCounts().stagePasses;
        draw();
        EXPECT_EQ(engine_->drawCounts().stagePasses, before + 1) << "frame " << frames;
        if (++frames == 7) onTheWay = offscreen();
    }
    EXPECT_GE(frames, 14);
    EXPECT_LE(frames, 16);
    // The last frame of the move showed the angle itself: the next ones are not drawn again.
    const auto passes = engine_->drawCounts().stagePasses;
    EXPECT_TRUE(engine_->liveFrameUpToDate(context_.get(), kW, kH));
    draw();
    EXPECT_EQ(engine_->drawCounts().stagePasses, passes);

    const auto host = offscreen();
    ASSERT_TRUE(shoulder && onTheWay && host);
    EXPECT_NE(*onTheWay, *shoulder);
    EXPECT_NE(*onTheWay, *host);
    // A frame at a time of its own (an export) shows the angle, not the move.
    engine_->moveCameraAngle(BroadcastCameraAngle::screenShoulder, 2.0f);
    draw();
    EXPECT_EQ(engine_->renderOffscreenBGRA(kW, kH, 3.0f), shoulder);
    // A cut ends the move at once.
    engine_->setCameraAngle(BroadcastCameraAngle::tightHost);
    EXPECT_FALSE(engine_->cameraMoving());
    EXPECT_EQ(offscreen(), host);
}

TEST_F(LiveFrameTest, SurfaceWithoutAKeyUsesTheCurrentContext) {
    StageRenderSurface s = surface();
    s.contextKey = nullptr;
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    engine_->drawInSurface(s);
    EXPECT_EQ(presented_, 1);
    std::uint8_t corner[4] = {0, 0, 0, 0};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
    glReadPixels(0, kH - 1, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, corner);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    EXPECT_LT(corner[0], 200);  // the night sky replaced the white clear
    EXPECT_EQ(corner[3], 255);
    engine_->releaseContextResources(nullptr);
}

TEST_F(LiveFrameTest, FrameRateReportsStartAtConstructionWindow) {
    std::vector<double> reports;
    engine_->setOnFPSUpdate([&](double fps) { reports.push_back(fps); });
    const double start = now_;
    int firstReportFrame = -1;
    for (int k = 1; k <= 150; ++k) {
        now_ = start + k / 60.0;
        engine_->drawInSurface(surface());
        platform::drainMainQueue();  // the callback runs on the "main" thread only
        if (firstReportFrame < 0 && !reports.empty()) firstReportFrame = k;
    }
    // The first report comes with the first frame at least 0.5 s after the window opened.
    EXPECT_GE(firstReportFrame, 30);
    EXPECT_LE(firstReportFrame, 31);
    ASSERT_GE(reports.size(), 4u);
    ASSERT_LE(reports.size(), 5u);
    for (double fps : reports) EXPECT_NEAR(fps, 60.0, 2.5);
}

TEST_F(LiveFrameTest, FirstReportCountsFramesSinceConstructionNotSinceTheFirstFrame) {
    std::vector<double> reports;
    engine_->setOnFPSUpdate([&](double fps) { reports.push_back(fps); });
    now_ += 0.6;  // the window opened 0.6 s ago; this is the first frame
    engine_->drawInSurface(surface());
    platform::drainMainQueue();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NEAR(reports[0], 1.0 / 0.6, 1e-9);
}

}  // namespace
}  // namespace vantry
