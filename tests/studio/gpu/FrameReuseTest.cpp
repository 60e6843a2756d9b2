// Frames whose key did not change are not drawn again, and a change always shows in the next
// frame: every kind of change against a fresh engine rendering the new state, the moving
// angles, and an export at a still angle against one whose every frame was drawn in full.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/video/VideoFileReader.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "tests/studio/gpu/LiveSurfaceFixture.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using Pixels = std::vector<std::uint8_t>;

// Everything a test sets on an engine.
struct StudioState {
    BroadcastStudioSet set = BroadcastStudioSet::manhattanLoft;
    BroadcastCameraAngle angle = BroadcastCameraAngle::screenShoulder;
    float keyGain = 1.35f;
    float neonGain = 1.25f;
    float wallBrightness = 1.15f;
    fs::path wall;  // empty: the built-in wall
    QImage presenter;
    studio::PresenterPlace place;
    int width = 160;
    int height = 90;
};

void applyAll(VantryMetalEngine& engine, const StudioState& s) {
    engine.loadSet(s.set);
    engine.setCameraAngle(s.angle);
    engine.setKeyLightGain(s.keyGain);
    engine.setNeonAccentGain(s.neonGain);
    engine.setLedWallBrightness(s.wallBrightness);
    if (!s.wall.empty()) {
        ASSERT_TRUE(engine.loadLEDWallImage(s.wall));
    }
    engine.setInSetPresenter(s.presenter);
    engine.setInSetPresenterPlace(s.place);
}

// A presenter-like cut-out: an opaque figure on a transparent picture.
QImage figure(QColor colour) {
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

fs::path writeWall(const std::string& name, QColor colour) {
    QImage image(128, 72, QImage::Format_RGB32);
    image.fill(colour);
    const fs::path path = fs::current_path() / ("frame_reuse_" + name + ".png");
    image.save(QString::fromStdString(path.string()));
    return path;
}

std::vector<std::uint8_t> render(VantryMetalEngine& engine, const StudioState& s, float time) {
    auto pixels = engine.renderOffscreenBGRA(s.width, s.height, time);
    return pixels ? std::move(*pixels) : std::vector<std::uint8_t>{};
}

class FrameReuse : public ::testing::Test {
  protected:
    void SetUp() override {
        engine_ = VantryMetalEngine::create();
        ASSERT_NE(engine_, nullptr);
        state_.presenter = figure(QColor(200, 140, 110));
    }
    // A new engine that never drew anything, given the whole state.
    std::vector<std::uint8_t> freshRender(float time) {
        auto fresh = VantryMetalEngine::create();
        EXPECT_NE(fresh, nullptr);
        if (!fresh) return {};
        applyAll(*fresh, state_);
        auto pixels = render(*fresh, state_, time);
        EXPECT_EQ(fresh->drawCounts().stagePasses, 1);
        return pixels;
    }
    std::unique_ptr<VantryMetalEngine> engine_;
    StudioState state_;
};

TEST_F(FrameReuse, EveryChangeShowsInTheNextFrameAsAFreshRenderWouldDrawIt) {
    const fs::path redWall = writeWall("red", QColor(230, 30, 30));
    const fs::path greenWall = writeWall("green", QColor(30, 230, 60));
    using Change = std::function<void(StudioState&, VantryMetalEngine&)>;
    const struct {
        const char* what;
        Change change;
    } changes[] = {
        {"set", [](StudioState& s,
                   VantryMetalEngine& e) { e.loadSet(s.set = BroadcastStudioSet::neonCreatorDesk); }},
        {"angle", [](StudioState& s,
                     VantryMetalEngine& e) { e.setCameraAngle(s.angle = BroadcastCameraAngle::tightHost); }},
        {"key light", [](StudioState& s, VantryMetalEngine& e) { e.setKeyLightGain(s.keyGain = 1.9f); }},
        {"neon accent", [](StudioState& s, VantryMetalEngine& e) { e.setNeonAccentGain(s.neonGain = 0.3f); }},
        {"wall brightness",
         [](StudioState& s, VantryMetalEngine& e) { e.setLedWallBrightness(s.wallBrightness = 1.8f); }},
        {"wall image",
         [&](StudioState& s, VantryMetalEngine& e) { ASSERT_TRUE(e.loadLEDWallImage(s.wall = redWall)); }},
        {"another wall image",
         [&](StudioState& s, VantryMetalEngine& e) { ASSERT_TRUE(e.loadLEDWallImage(s.wall = greenWall)); }},
        {"size", [](StudioState& s, VantryMetalEngine&) { s.width = 192, s.height = 108; }},
        {"presenter place",
         [](StudioState& s, VantryMetalEngine& e) {
             s.place.x += 0.6f;
             e.setInSetPresenterPlace(s.place);
         }},
        {"presenter height",
         [](StudioState& s, VantryMetalEngine& e) {
             s.place.height = 2.2f;
             e.setInSetPresenterPlace(s.place);
         }},
        {"presenter picture",
         [](StudioState& s, VantryMetalEngine& e) {
             e.setInSetPresenter(s.presenter = figure(QColor(60, 90, 220)));
         }},
        {"presenter out",
         [](StudioState& s, VantryMetalEngine& e) { e.setInSetPresenter(s.presenter = QImage()); }},
    };
    applyAll(*engine_, state_);
    std::vector<std::uint8_t> previous = render(*engine_, state_, 1.0f);
    ASSERT_FALSE(previous.empty());
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        c.change(state_, *engine_);
        // A still angle: the time differs, the picture only by the change.
        const std::vector<std::uint8_t> next = render(*engine_, state_, 2.0f);
        ASSERT_FALSE(next.empty());
        EXPECT_NE(next, previous) << "the change does not show";
        EXPECT_TRUE(next == freshRender(2.0f)) << "the frame differs from a fresh render";
        previous = next;
    }
}

TEST_F(FrameReuse, StillAnglesDrawOnceAndMovingAnglesDrawEveryFrame) {
    applyAll(*engine_, state_);
    const struct {
        BroadcastCameraAngle angle;
        bool moves;
    } cases[] = {{BroadcastCameraAngle::screenShoulder, false},
                 {BroadcastCameraAngle::tightHost, false},
                 {BroadcastCameraAngle::wideDesk, true},
                 {BroadcastCameraAngle::sweepingCrane, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.angle.rawValue());
        engine_->setCameraAngle(c.angle);
        const auto before = engine_->drawCounts();
        std::vector<std::uint8_t> previous = render(*engine_, state_, 0.0f);
        bool consecutiveDiffer = true;
        // Two seconds of frames at 30 per second.
        for (int n = 1; n <= 60; ++n) {
            const std::vector<std::uint8_t> next = render(*engine_, state_, float(n) / 30.0f);
            ASSERT_FALSE(next.empty());
            consecutiveDiffer = consecutiveDiffer && next != previous;
            if (!c.moves) {
                ASSERT_EQ(next, previous) << "frame " << n;
            }
            previous = next;
        }
        const auto after = engine_->drawCounts();
        if (c.moves) {
            EXPECT_TRUE(consecutiveDiffer);
            EXPECT_EQ(after.stagePasses - before.stagePasses, 61);
            EXPECT_EQ(after.presenterPasses - before.presenterPasses, 61);
        } else {
            EXPECT_EQ(after.stagePasses - before.stagePasses, 1);
            EXPECT_EQ(after.presenterPasses - before.presenterPasses, 1);
        }
    }
}

TEST_F(FrameReuse, ANewCameraPictureDrawsOnlyThePresenterOverTheKeptStage) {
    applyAll(*engine_, state_);
    render(*engine_, state_, 0.0f);
    const auto before = engine_->drawCounts();
    // Each frame a new camera picture, every third one at another place: the last presenter and
    // its shadow are gone wherever the new one is drawn.
    for (int n = 1; n <= 10; ++n) {
        engine_->setInSetPresenter(state_.presenter = figure(QColor(100 + 10 * n, 120, 90)));
        if (n % 3 == 0) {
            state_.place.x += n == 6 ? -1.1f : 0.5f;
            engine_->setInSetPresenterPlace(state_.place);
        }
        const std::vector<std::uint8_t> frame = render(*engine_, state_, float(n) / 30.0f);
        EXPECT_TRUE(frame == freshRender(float(n) / 30.0f)) << "frame " << n;
    }
    const auto after = engine_->drawCounts();
    EXPECT_EQ(after.stagePasses, before.stagePasses);
    EXPECT_EQ(after.presenterPasses - before.presenterPasses, 10);
}

// At a moving angle no stage serves two frames, so the presenter is drawn straight over each one;
// at a still angle the stage is kept, and only the presenter is drawn again for a new camera
// picture.
TEST_F(FrameReuse, APresenterInTheSetAtAMovingAngleAndThenAtAStillOneLooksAsAFreshRender) {
    state_.angle = BroadcastCameraAngle::wideDesk;
    applyAll(*engine_, state_);
    for (int n = 0; n < 4; ++n) {
        const std::vector<std::uint8_t> frame = render(*engine_, state_, float(n) / 30.0f);
        ASSERT_FALSE(frame.empty());
        EXPECT_TRUE(frame == freshRender(float(n) / 30.0f)) << "moving frame " << n;
    }
    engine_->setCameraAngle(state_.angle = BroadcastCameraAngle::screenShoulder);
    EXPECT_TRUE(render(*engine_, state_, 1.0f) == freshRender(1.0f)) << "the first still frame";
    const auto before = engine_->drawCounts();
    for (int n = 1; n <= 3; ++n) {
        engine_->setInSetPresenter(state_.presenter = figure(QColor(90, 100 + 30 * n, 200)));
        const std::vector<std::uint8_t> frame = render(*engine_, state_, 1.0f + float(n) / 30.0f);
        EXPECT_TRUE(frame == freshRender(1.0f + float(n) / 30.0f)) << "still frame " << n;
    }
    const auto after = engine_->drawCounts();
    EXPECT_EQ(after.stagePasses - before.stagePasses, 0);
    EXPECT_EQ(after.presenterPasses - before.presenterPasses, 3);
}

// A shared frame whose key holds comes back as the same pixels and serial, at a time of its own
// or at the live clock; one still held is never written over by the next frame.
TEST_F(FrameReuse, ASharedFrameComesBackUntilItsKeyChangesAndAHeldOneStaysAsItWas) {
    applyAll(*engine_, state_);
    for (const std::optional<float> time : {std::optional<float>(1.0f), std::optional<float>()}) {
        SCOPED_TRACE(time ? "a time of its own" : "the live clock");
        const SharedFrame first = engine_->renderOffscreenShared(state_.width, state_.height, time);
        ASSERT_TRUE(first);
        const std::vector<std::uint8_t> firstPixels = *first.pixels;
        const auto before = engine_->drawCounts();
        const SharedFrame again =
            engine_->renderOffscreenShared(state_.width, state_.height, time ? std::optional(2.0f) : time);
        EXPECT_EQ(again.pixels, first.pixels);
        EXPECT_EQ(again.serial, first.serial);
        EXPECT_EQ(engine_->drawCounts().stagePasses, before.stagePasses);
        // A new wall picture: drawn by a wall pass and read back only where it shows, into a
        // buffer of its own while the last one is held.
        const fs::path wall =
            writeWall(time ? "shared_a" : "shared_b", time ? QColor(20, 200, 90) : QColor(200, 40, 160));
        ASSERT_TRUE(engine_->loadLEDWallImage(state_.wall = wall));
        const SharedFrame changed = engine_->renderOffscreenShared(state_.width, state_.height, time);
        ASSERT_TRUE(changed);
        EXPECT_NE(changed.serial, first.serial);
        EXPECT_TRUE(*changed.pixels == freshRender(time.value_or(0.0f)));
        EXPECT_TRUE(*first.pixels == firstPixels) << "a held frame was written over";
    }
}

TEST_F(FrameReuse, ASettledColourMatchDrawsNothingNew) {
    double now = 0;
    EngineServices services;
    services.clock = [&now] { return now; };
    auto engine = VantryMetalEngine::create(std::move(services));
    ASSERT_NE(engine, nullptr);
    state_.presenter = figure(QColor(60, 90, 220));  // too blue for the key light
    applyAll(*engine, state_);
    engine->setInSetPresenterColourMatch(true);
    const auto picture = [&] {
        now += 1.0 / 30.0;
        engine->setInSetPresenter(state_.presenter);
    };
    // Twenty seconds of the same camera picture: the gains settle.
    for (int n = 0; n < 600; ++n) picture();
    const Float3 settled = engine->inSetPresenterColourGains();
    EXPECT_NE(settled, (Float3{1, 1, 1}));
    const std::vector<std::uint8_t> first = render(*engine, state_, 0.0f);
    const auto before = engine->drawCounts();
    // Frames at the still angle without a new picture, and the switch set as it is: none drawn.
    for (int n = 1; n <= 10; ++n) ASSERT_EQ(render(*engine, state_, float(n) / 30.0f), first) << n;
    engine->setInSetPresenterColourMatch(true);
    EXPECT_EQ(render(*engine, state_, 0.5f), first);
    EXPECT_EQ(engine->drawCounts().presenterPasses, before.presenterPasses);
    // Another picture of the same: the presenter drawn again over the kept stage, with the same
    // gains and so the same pixels.
    picture();
    EXPECT_EQ(engine->inSetPresenterColourGains(), settled);
    EXPECT_EQ(render(*engine, state_, 0.6f), first);
    // Off: the picture as it is, drawn over the kept stage as a fresh engine draws it.
    engine->setInSetPresenterColourMatch(false);
    const std::vector<std::uint8_t> off = render(*engine, state_, 0.7f);
    EXPECT_NE(off, first);
    EXPECT_TRUE(off == freshRender(0.7f));
    const auto after = engine->drawCounts();
    EXPECT_EQ(after.stagePasses, before.stagePasses);
    EXPECT_EQ(after.presenterPasses - before.presenterPasses, 2);
}

// The frames of an export at a still angle, drawn once, against an export whose every frame
// was drawn in full (the set reloaded before each): the same decoded pictures.
TEST_F(FrameReuse, ExportAtAStillAngleEncodesTheFramesOfAFullRender) {
    constexpr int kW = 192, kH = 108;
    applyAll(*engine_, state_);
    const fs::path reused = fs::current_path() / "frame_reuse_export.mp4";
    const auto before = engine_->drawCounts();
    engine_->exportBroadcastMP4(kW, kH, 1.0, reused);
    EXPECT_EQ(engine_->drawCounts().stagePasses - before.stagePasses, 1);

    auto full = VantryMetalEngine::create();
    ASSERT_NE(full, nullptr);
    applyAll(*full, state_);
    const fs::path drawn = fs::current_path() / "frame_reuse_export_full.mp4";
    {
        auto sink = openMP4VideoSink(drawn, {kW, kH, 30, 16'000'000});
        for (int n = 0; n < 30; ++n) {
            full->loadSet(state_.set);  // the stage is drawn again
            const auto pixels = full->renderOffscreenBGRA(kW, kH, float(n) / 30.0f);
            ASSERT_TRUE(pixels.has_value());
            sink->appendBGRA(pixels->data(), kW * 4, n);
        }
        sink->finish();
    }
    EXPECT_EQ(full->drawCounts().stagePasses, 30);
    const auto all = [](std::int64_t) { return true; };
    const auto reusedFrames = platform::decodeVideoFrames(reused, all);
    const auto drawnFrames = platform::decodeVideoFrames(drawn, all);
    ASSERT_EQ(reusedFrames.size(), 30u);
    ASSERT_EQ(drawnFrames.size(), 30u);
    for (std::size_t n = 0; n < 30; ++n) {
        EXPECT_TRUE(reusedFrames[n].bgra == drawnFrames[n].bgra) << "frame " << n;
    }
    fs::remove(reused);
    fs::remove(drawn);
}

// The live view and the program feed at one size: the feed takes the frames the live view drew
// (a moving angle draws each time step once), the same pictures as the feed draws itself, while
// the window still gets its frame in GL's orientation. At another size each draws its own.
TEST_F(LiveFrameTest, TheProgramFeedTakesTheLiveViewsFramesAtItsSize) {
    const auto feed = [this](int w, int h) { return engine_->renderOffscreenBGRA(w, h, std::nullopt); };
    const auto window = [this] { return windowPicture(); };
    engine_->setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    for (const bool presenter : {false, true}) {
        SCOPED_TRACE(presenter ? "presenter in the set" : "studio alone");
        engine_->setInSetPresenter(presenter ? figure(QColor(200, 140, 110)) : QImage());
        ASSERT_TRUE(feed(kW, kH));  // from now on the feed follows the live clock
        for (int n = 0; n < 4; ++n) {
            now_ += 1.0 / 30.0;
            const auto before = engine_->drawCounts();
            engine_->drawInSurface(surface());
            const auto taken = feed(kW, kH);
            const auto after = engine_->drawCounts();
            EXPECT_EQ(after.stagePasses - before.stagePasses, 1) << "frame " << n;
            EXPECT_EQ(after.presenterPasses - before.presenterPasses, presenter ? 1 : 0) << "frame " << n;
            const auto own = engine_->renderOffscreenBGRA(kW, kH, engine_->directorClock());
            ASSERT_TRUE(taken && own);
            EXPECT_TRUE(*taken == *own) << "frame " << n;
            EXPECT_TRUE(window() == *own) << "frame " << n;
        }
    }
    // A feed of another size draws its own frames.
    now_ += 1.0 / 30.0;
    ASSERT_TRUE(feed(2 * kW, 2 * kH));
    const auto before = engine_->drawCounts().stagePasses;
    engine_->drawInSurface(surface());
    ASSERT_TRUE(feed(2 * kW, 2 * kH));
    EXPECT_EQ(engine_->drawCounts().stagePasses - before, 2);
}

// Largest difference of a 4 x 4 grid's mean colours between two pictures, rows top to bottom.
double broadDifference(const Pixels& a, const Pixels& b, int w, int h) {
    constexpr int kGrid = 4;
    double sums[2][kGrid * kGrid][3] = {};
    int counts[kGrid * kGrid] = {};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int cell = (y * kGrid / h) * kGrid + x * kGrid / w;
            const std::size_t i = (std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4;
            for (int c = 0; c < 3; ++c) {
                sums[0][cell][c] += a[i + std::size_t(c)];
                sums[1][cell][c] += b[i + std::size_t(c)];
            }
            ++counts[cell];
        }
    }
    double worst = 0;
    for (int cell = 0; cell < kGrid * kGrid; ++cell)
        for (int c = 0; c < 3; ++c)
            worst =
                std::max(worst, std::abs(sums[0][cell][c] - sums[1][cell][c]) / std::max(1, counts[cell]));
    return worst;
}

Pixels upsideDown(const Pixels& picture, int w, int h) {
    Pixels turned(picture.size());
    for (int y = 0; y < h; ++y)
        std::copy_n(picture.begin() + std::ptrdiff_t(h - 1 - y) * w * 4, w * 4,
                    turned.begin() + std::ptrdiff_t(y) * w * 4);
    return turned;
}

// Offscreen frames (an export or a still at the live time), the program feed and the live view
// ask for frames of one key and size in every order, the feed now and then going away (the live
// view then draws in its own orientation again), at a still and a moving angle, with and without
// the presenter: every picture each of them gets is upright, whichever drew it first.
TEST_F(LiveFrameTest, NoFrameIsShownInTheOtherOrientationWhateverTheOrderOfAsking) {
    auto reference = VantryMetalEngine::create();  // draws each frame itself, offscreen only
    ASSERT_NE(reference, nullptr);
    // feedGone: the feed stops asking for long enough that the live view no longer draws for it.
    enum Step { offscreen, feed, live, feedGone };
    const auto upright = [&](const Pixels& picture, float time, const std::string& what) {
        const auto expected = reference->renderOffscreenBGRA(kW, kH, time);
        ASSERT_TRUE(expected);
        const double straight = broadDifference(picture, *expected, kW, kH);
        const double turned = broadDifference(upsideDown(picture, kW, kH), *expected, kW, kH);
        EXPECT_LE(straight, 8) << what << " differs from the studio at t = " << time;
        EXPECT_LT(straight, turned) << what << " is upside down at t = " << time;
    };
    for (const BroadcastCameraAngle angle : {BroadcastCameraAngle(BroadcastCameraAngle::screenShoulder),
                                             BroadcastCameraAngle(BroadcastCameraAngle::sweepingCrane)}) {
        for (const bool presenter : {false, true}) {
            const QImage picture = presenter ? figure(QColor(200, 140, 110)) : QImage();
            for (VantryMetalEngine* e : {engine_.get(), reference.get()}) {
                e->setCameraAngle(angle);
                e->setInSetPresenter(picture);
            }
            std::vector<Step> order{offscreen, feed, live, feedGone};
            bool drawnLive = false;
            do {
                SCOPED_TRACE(::testing::Message()
                             << "angle " << angle.rawValue() << ", presenter " << presenter << ", order "
                             << order[0] << order[1] << order[2]);
                for (int round = 0; round < 2; ++round) {
                    for (const Step step : order) {
                        const float t = engine_->directorClock();
                        if (step == offscreen) {
                            const auto frame = engine_->renderOffscreenBGRA(kW, kH, t);
                            ASSERT_TRUE(frame);
                            upright(*frame, t, "the offscreen frame");
                        } else if (step == feed) {
                            const auto frame = engine_->renderOffscreenBGRA(kW, kH, std::nullopt);
                            ASSERT_TRUE(frame);
                            upright(*frame, t, "the program feed's frame");
                        } else if (step == feedGone) {
                            now_ += 2.0;
                        } else {
                            now_ += 1.0 / 30.0;
                            engine_->drawInSurface(surface());
                            drawnLive = true;
                        }
                        if (drawnLive) upright(windowPicture(), engine_->directorClock(), "the window");
                    }
                }
            } while (std::next_permutation(order.begin(), order.end()));
        }
    }
}

}  // namespace
}  // namespace vantry
