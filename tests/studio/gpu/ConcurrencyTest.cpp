// One engine used by an export thread and by the main thread at the same time.
// Built and run under ThreadSanitizer in CI (label tsan).
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/studio/gpu/LiveSurfaceFixture.h"

// Mesa's software rasteriser and LLVM are not built with ThreadSanitizer; their
// internal synchronisation is invisible to it. Races inside them are not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libLLVM-15.so\n"
           "race:swrast_dri.so\n"
           "race:libEGL_mesa.so\n"
           "race:libgallium\n";
}

namespace vantry {
namespace {

// An export-like thread renders offscreen frames while the main thread changes
// every parameter, loads sets and images and draws live frames.
TEST_F(LiveFrameTest, ExportThreadAndMainThreadShareOneEngine) {
    QImage img(100, 60, QImage::Format_RGB32);
    img.fill(Qt::yellow);
    const auto path = std::filesystem::current_path() / "engine_test_concurrent.png";
    ASSERT_TRUE(img.save(QString::fromStdString(path.string())));

    std::atomic<bool> done{false};
    std::atomic<int> rendered{0};
    std::thread exporter([&] {
        for (int n = 0; n < 12; ++n) {
            if (engine_->renderOffscreenBGRA(64, 36, float(n) / 30.0f)) rendered.fetch_add(1);
        }
        done = true;
    });
    int i = 0;
    while (!done) {
        engine_->setCameraAngle(*BroadcastCameraAngle::fromRawValue(i % 4));
        engine_->setKeyLightGain(0.5f + float(i % 3));
        engine_->setNeonAccentGain(float(i % 2));
        engine_->setLedWallBrightness(1.0f);
        engine_->loadSet(BroadcastStudioSet::allCases()[std::size_t(i % 4)]);
        if (i % 5 == 0) {
            EXPECT_TRUE(engine_->loadLEDWallImage(path));
        }
        now_ += 0.016;
        engine_->drawInSurface(surface());
        ++i;
    }
    exporter.join();
    EXPECT_EQ(rendered.load(), 12);
    EXPECT_GT(i, 0);
}

// A real export runs on its own thread while the main thread keeps drawing live
// frames and changing what they show.
TEST_F(LiveFrameTest, ExportRunsWhileTheLiveViewKeepsDrawing) {
    const auto out = std::filesystem::current_path() / "concurrency_export.mp4";
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> progress{0};
    std::int64_t size = 0;
    std::thread exporter([&] {
        size = engine_->exportBroadcastMP4(64, 36, 0.0, out,
                                           [&](std::int64_t n, std::int64_t) { progress = n; });
        done = true;
    });
    int frames = 0;
    while (!done) {
        engine_->setKeyLightGain(0.5f + float(frames % 4));
        engine_->setCameraAngle(*BroadcastCameraAngle::fromRawValue(frames % 4));
        engine_->loadSet(BroadcastStudioSet::allCases()[std::size_t(frames % 4)]);
        now_ += 0.016;
        engine_->drawInSurface(surface());
        ++frames;
    }
    exporter.join();
    EXPECT_GT(size, 0);
    EXPECT_EQ(progress.load(), 30);
    EXPECT_GT(frames, 0);
    EXPECT_EQ(presented_, frames);
}

// The program feed asks for frames at the live clock from its own thread while the live view
// of its size draws a moving angle: it gets every frame without drawing the ones the live view
// hands over. The live view steps on only once the feed has asked again, as a feed at the live
// rate does: a feed that misses a whole second of the live clock (a starved thread on a loaded
// machine) rightly counts as gone and then draws its next frame itself.
TEST_F(LiveFrameTest, TheProgramFeedTakesLiveFramesFromAnotherThread) {
    engine_->setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    std::atomic<bool> done{false};
    std::atomic<int> taken{0};
    std::thread feed([&] {
        while (!done) {
            if (engine_->renderOffscreenBGRA(kW, kH, std::nullopt)) taken.fetch_add(1);
        }
    });
    // Two more frames taken since `before`: the feed asked within the last live frame.
    const auto feedAskedAgain = [&](int before) {
        for (int i = 0; i < 20000 && taken.load() < before + 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return taken.load() >= before + 2;
    };
    bool following = feedAskedAgain(-1);  // the feed follows the live clock from here on
    constexpr int kFrames = 30;
    for (int n = 0; n < kFrames && following; ++n) {
        const int before = taken.load();
        now_ += 1.0 / 30.0;
        engine_->drawInSurface(surface());
        following = feedAskedAgain(before);
    }
    done = true;
    feed.join();
    ASSERT_TRUE(following) << "the feed stopped taking frames";
    EXPECT_GT(taken.load(), 0);
    // Drawn by the feed itself at most: the frame before the live view knew of it, and one the
    // live view drew before that.
    EXPECT_LE(engine_->drawCounts().stagePasses, kFrames + 2);
}

}  // namespace
}  // namespace vantry
