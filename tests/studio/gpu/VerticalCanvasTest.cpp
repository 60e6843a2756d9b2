// The vertical canvas's frames: filmed by its own lens to every edge of the tall frame at every
// angle; kept apart from the landscape canvas's frames, so that the two asked for in turn each
// draw only what changed and give a full redraw's picture; and exported as they are drawn.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "studio/gpu/VantryMetalEngine.h"
#include "tests/studio/gpu/LiveSurfaceFixture.h"
#include "tests/support/WallChanges.h"

namespace vantry {
namespace {

using Pixels = std::vector<std::uint8_t>;
using vantry::testing::wallChanges;

QImage standingFigure(QColor colour) {
    QImage picture(96, 144, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(28, 6, 40, 44));
    painter.drawRoundedRect(QRectF(12, 46, 72, 98), 20, 20);
    return picture;
}

// Each canvas at a small size of its shape.
struct CanvasFrame {
    ProgramCanvas canvas;
    int width;
    int height;
};
constexpr CanvasFrame kCanvases[] = {{ProgramCanvas::landscape, 320, 180},
                                     {ProgramCanvas::vertical, 180, 320}};

Pixels render(VantryMetalEngine& engine, const CanvasFrame& c, float time) {
    auto pixels = engine.renderOffscreenBGRA(c.width, c.height, time, c.canvas);
    return pixels ? std::move(*pixels) : Pixels{};
}

// How many different pixels lie along a row or a column of a frame.
std::size_t distinctAlong(const Pixels& frame, int width, int x0, int y0, int dx, int dy, int count) {
    std::set<std::uint32_t> seen;
    for (int i = 0; i < count; ++i) {
        const std::size_t at = (std::size_t(y0 + dy * i) * std::size_t(width) + std::size_t(x0 + dx * i)) * 4;
        seen.insert(std::uint32_t(frame[at]) | std::uint32_t(frame[at + 1]) << 8 |
                    std::uint32_t(frame[at + 2]) << 16);
    }
    return seen.size();
}

// Filmed, not letterboxed: the set's floor, walls and pillars reach the bottom row and both
// side columns, which vary along their length. Above the set the tall frame shows the studio's
// sky, whose colour changes only from row to row: the band of rows at the top is no flat bar,
// its colour changes down the middle.
TEST(VerticalCameraFrame, EveryAngleFilmsTheTallFrameToItsEdges) {
    constexpr int kW = 720, kH = 1280;
    auto engine = VantryMetalEngine::create();
    ASSERT_NE(engine, nullptr);
    engine->setInSetPresenter(standingFigure(QColor(200, 140, 110)));
    for (const BroadcastCameraAngle angle : BroadcastCameraAngle::allCases()) {
        SCOPED_TRACE(angle.rawValue());
        engine->setCameraAngle(angle);
        const auto frame = engine->renderOffscreenBGRA(kW, kH, 0.5f, ProgramCanvas::vertical);
        ASSERT_TRUE(frame && frame->size() == std::size_t(kW) * kH * 4);
        const struct {
            const char* edge;
            int x0, y0, dx, dy, count;
        } edges[] = {{"bottom row", 0, kH - 1, 1, 0, kW},
                     {"left column", 0, 0, 0, 1, kH},
                     {"right column", kW - 1, 0, 0, 1, kH}};
        for (const auto& e : edges) {
            EXPECT_GT(distinctAlong(*frame, kW, e.x0, e.y0, e.dx, e.dy, e.count), 8u) << e.edge << " is flat";
        }
        EXPECT_GT(distinctAlong(*frame, kW, kW / 2, 0, 0, 1, kH / 8), 1u) << "the top band is flat";
        // Not the landscape camera's picture at the tall size.
        EXPECT_NE(*frame, *engine->renderOffscreenBGRA(kW, kH, 0.5f, ProgramCanvas::landscape));
    }
}

// Landscape and vertical frames asked for in turn at a still angle, as the two feeds ask: each
// canvas draws its first frame and then reuses it; a wall change draws one wall pass per canvas
// and a new camera picture one presenter pass per canvas, each frame equal to a fresh engine's.
TEST(CanvasFrameReuse, CanvasesAskedForInTurnEachKeepTheirOwnFrame) {
    const auto prepare = [](VantryMetalEngine& e, const QImage& presenter) {
        e.setCameraAngle(BroadcastCameraAngle::screenShoulder);
        e.setInSetPresenter(presenter);
    };
    QImage presenter = standingFigure(QColor(200, 140, 110));
    auto engine = VantryMetalEngine::create();
    ASSERT_NE(engine, nullptr);
    prepare(*engine, presenter);
    float t = 0;
    Pixels first[2];
    for (int n = 0; n < 6; ++n, t += 1.0f / 30.0f) {
        for (int c = 0; c < 2; ++c) {
            const Pixels frame = render(*engine, kCanvases[c], t);
            ASSERT_FALSE(frame.empty());
            if (n == 0) first[c] = frame;
            EXPECT_TRUE(frame == first[c]) << "frame " << n << " of canvas " << c;
        }
    }
    EXPECT_EQ(engine->drawCounts().stagePasses, 2);
    EXPECT_EQ(engine->drawCounts().presenterPasses, 2);

    const auto expectCanvasesAsFresh = [&](const char* what, const auto& apply, std::int64_t wallPasses,
                                           std::int64_t presenterPasses) {
        SCOPED_TRACE(what);
        apply(*engine);
        auto fresh = VantryMetalEngine::create();
        ASSERT_NE(fresh, nullptr);
        prepare(*fresh, presenter);
        apply(*fresh);
        const auto before = engine->drawCounts();
        Pixels frames[2];
        for (int c = 0; c < 2; ++c) frames[c] = render(*engine, kCanvases[c], t);
        const auto after = engine->drawCounts();
        EXPECT_EQ(after.stagePasses - before.stagePasses, 0);
        EXPECT_EQ(after.wallPasses - before.wallPasses, wallPasses);
        EXPECT_EQ(after.presenterPasses - before.presenterPasses, presenterPasses);
        for (int c = 0; c < 2; ++c) {
            ASSERT_FALSE(frames[c].empty());
            EXPECT_TRUE(frames[c] == render(*fresh, kCanvases[c], t))
                << "canvas " << c << " differs from a full redraw";
        }
        t += 1.0f / 30.0f;
    };
    for (const auto& change : wallChanges()) expectCanvasesAsFresh(change.what.c_str(), change.apply, 2, 2);
    for (const QColor colour : {QColor(60, 90, 220), QColor(90, 200, 80)}) {
        presenter = standingFigure(colour);
        expectCanvasesAsFresh(
            "a new camera picture", [&](VantryMetalEngine& e) { e.setInSetPresenter(presenter); }, 0, 2);
    }
}

// The live view hands its frames to the landscape feed alone: a vertical feed at the live clock,
// even one of the live surface's size, films its own frames with its own camera and leaves the
// landscape feed taking the live view's.
TEST_F(LiveFrameTest, AVerticalFeedDrawsItsOwnFramesBesideTheHandedOverLandscapeOnes) {
    engine_->setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    for (const CanvasFrame tall :
         {CanvasFrame{ProgramCanvas::vertical, kH, kW}, {ProgramCanvas::vertical, kW, kH}}) {
        SCOPED_TRACE(::testing::Message() << "vertical feed " << tall.width << " x " << tall.height);
        ASSERT_TRUE(engine_->renderOffscreenBGRA(kW, kH, std::nullopt));  // the landscape feed follows
        for (int n = 0; n < 3; ++n) {
            now_ += 1.0 / 30.0;
            const auto before = engine_->drawCounts();
            engine_->drawInSurface(surface());
            const auto landscape = engine_->renderOffscreenBGRA(kW, kH, std::nullopt);
            const auto vertical =
                engine_->renderOffscreenBGRA(tall.width, tall.height, std::nullopt, tall.canvas);
            const auto after = engine_->drawCounts();
            EXPECT_EQ(after.stagePasses - before.stagePasses, 2) << "frame " << n;
            const float t = engine_->directorClock();
            ASSERT_TRUE(landscape && vertical);
            EXPECT_TRUE(*landscape == *engine_->renderOffscreenBGRA(kW, kH, t)) << "frame " << n;
            EXPECT_TRUE(*vertical == render(*engine_, tall, t)) << "frame " << n;
            EXPECT_FALSE(*vertical == *landscape) << "frame " << n;
        }
    }
}

// Records the frames an export hands its writer; the file it finishes is empty.
class FrameRecorder final : public ExportVideoSink {
  public:
    FrameRecorder(std::filesystem::path path, int height, std::vector<Pixels>& frames)
        : path_(std::move(path)), height_(height), frames_(frames) {}
    void appendBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t) override {
        frames_.emplace_back(pixels, pixels + stride * height_);
    }
    void finish() override { std::ofstream(path_, std::ios::binary).flush(); }

  private:
    std::filesystem::path path_;
    int height_ = 0;
    std::vector<Pixels>& frames_;
};

TEST(VerticalCameraFrame, AVerticalExportFilmsWithTheVerticalCamera) {
    constexpr int kW = 90, kH = 160;
    std::vector<Pixels> exported;
    EngineServices services;
    services.openVideoSink = [&](const std::filesystem::path& path, const ExportVideoFormat& format) {
        return std::make_unique<FrameRecorder>(path, format.height, exported);
    };
    auto engine = VantryMetalEngine::create(std::move(services));
    auto reference = VantryMetalEngine::create();
    ASSERT_TRUE(engine && reference);
    QTemporaryDir folder;
    engine->exportBroadcastMP4(kW, kH, 1.0, std::filesystem::path(folder.path().toStdString()) / "tall.mp4",
                               {}, ProgramCanvas::vertical);
    ASSERT_EQ(exported.size(), 30u);
    for (const int n : {0, 17, 29}) {
        SCOPED_TRACE(n);
        const float time = float(n) / 30.0f;
        EXPECT_TRUE(exported[std::size_t(n)] ==
                    *reference->renderOffscreenBGRA(kW, kH, time, ProgramCanvas::vertical));
        EXPECT_FALSE(exported[std::size_t(n)] == *reference->renderOffscreenBGRA(kW, kH, time));
    }
}

}  // namespace
}  // namespace vantry
