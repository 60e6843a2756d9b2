// GPU frames against the CPU reference: every set and camera angle, several gains
// and times, the fallback wall and a loaded image, compared pixel by pixel away from
// geometric edges.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <filesystem>
#include <memory>

#include "studio/gpu/VantryMetalEngine.h"
#include "studio/gpu/WallImageLoader.h"
#include "tests/studio/gpu/ImageDiff.h"
#include "tests/studio/gpu/StudioReference.h"

namespace vantry {
namespace {

constexpr int kW = 240;
constexpr int kH = 135;
constexpr int kTolerance = 2;

class RendererReference : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { engine_ = VantryMetalEngine::create(); }
    static void TearDownTestSuite() { engine_.reset(); }
    void SetUp() override {
        ASSERT_NE(engine_, nullptr) << "no OpenGL 3.3 core context could be created";
        engine_->setKeyLightGain(1.35f);
        engine_->setNeonAccentGain(1.25f);
        engine_->setLedWallBrightness(1.15f);
    }

    void expectMatches(const reference::Params& p, const reference::Texture& wall, const std::string& name,
                       int w = kW, int h = kH) {
        engine_->loadSet(p.set);
        engine_->setCameraAngle(p.angle);
        engine_->setKeyLightGain(p.keyGain);
        engine_->setNeonAccentGain(p.neonGain);
        engine_->setLedWallBrightness(p.wallBrightness);
        const auto gpu = engine_->renderOffscreenBGRA(w, h, p.time);
        ASSERT_TRUE(gpu.has_value());
        ASSERT_EQ(gpu->size(), std::size_t(w) * std::size_t(h) * 4);
        const reference::Frame ref = reference::renderFrame(p, w, h, wall);
        const auto r = testing_images::compareAndDump(*gpu, ref.bgra, &ref.edge, w, h, kTolerance, name);
        EXPECT_GT(r.compared, w * h / 2) << name;
        EXPECT_EQ(r.mismatched, 0) << name << ": worst channel difference " << r.worst << " over "
                                   << r.compared << " pixels; images written as " << name << "_*.png";
    }

    static std::unique_ptr<VantryMetalEngine> engine_;
};

std::unique_ptr<VantryMetalEngine> RendererReference::engine_;

TEST_F(RendererReference, EverySetFromEveryAngle) {
    const auto wall = reference::fallbackWall();
    for (auto set : BroadcastStudioSet::allCases()) {
        for (auto angle : BroadcastCameraAngle::allCases()) {
            reference::Params p;
            p.set = set;
            p.angle = angle;
            p.time = 1.5f;
            expectMatches(p, wall,
                          "set_" + std::string(set.rawValue()) + "_angle" + std::to_string(angle.rawValue()));
        }
    }
}

TEST_F(RendererReference, GainsAndTimes) {
    const auto wall = reference::fallbackWall();
    struct Case {
        float key, neon, led, time;
        int angle;
    };
    const Case cases[] = {{0.0f, 0.0f, 0.0f, 0.0f, 0},
                          {2.0f, 1.25f, 0.5f, 4.2f, 3},
                          {1.35f, 0.4f, 2.0f, 7.7f, 3},
                          {0.7f, 2.0f, 1.15f, 12.5f, 0},
                          {1.35f, 1.25f, 1.15f, 0.0f, 3}};
    int i = 0;
    for (const Case& c : cases) {
        reference::Params p;
        p.set = BroadcastStudioSet::neonCreatorDesk;
        p.angle = *BroadcastCameraAngle::fromRawValue(c.angle);
        p.keyGain = c.key;
        p.neonGain = c.neon;
        p.wallBrightness = c.led;
        p.time = c.time;
        expectMatches(p, wall, "gains_case" + std::to_string(i++));
    }
}

TEST_F(RendererReference, WideAndTallTargets) {
    const auto wall = reference::fallbackWall();
    reference::Params p;
    p.set = BroadcastStudioSet::timberPodcast;
    p.angle = BroadcastCameraAngle::screenShoulder;
    p.time = 2.0f;
    expectMatches(p, wall, "size_wide", 320, 100);
    expectMatches(p, wall, "size_tall", 90, 160);
}

TEST_F(RendererReference, LoadedImageShowsUprightOnTheWall) {
    // Quadrants of distinct colours: any flip or mirror moves them.
    QImage img(320, 180, QImage::Format_RGB32);
    QPainter painter(&img);
    painter.fillRect(0, 0, 160, 90, QColor(250, 30, 30));
    painter.fillRect(160, 0, 160, 90, QColor(30, 250, 30));
    painter.fillRect(0, 90, 160, 90, QColor(30, 30, 250));
    painter.fillRect(160, 90, 160, 90, QColor(240, 240, 60));
    painter.end();
    const auto path = std::filesystem::current_path() / "reference_wall.png";
    ASSERT_TRUE(img.save(QString::fromStdString(path.string())));
    ASSERT_TRUE(engine_->loadLEDWallImage(path));
    const auto loaded = studio::gl::loadWallImage(path);
    ASSERT_NE(loaded, nullptr);
    reference::Texture wall{loaded->width, loaded->height, loaded->rgba};
    reference::Params p;
    p.angle = BroadcastCameraAngle::screenShoulder;
    p.time = 0.5f;
    expectMatches(p, wall, "loaded_wall");
}

}  // namespace
}  // namespace vantry
