// The program feed at 1280x720, 30 frames per second, on this machine's GL (llvmpipe here),
// at a still and a moving angle, with the presenter floating or standing in the set:
// pictures rendered per second, frame slots missed, and processor seconds per second, over a
// few seconds of wall-clock time after a second to settle, without and with an H.264 encoder
// taking every picture.
// Baseline in the same run: the export path's cost per frame (exportBroadcastMP4 at 1280x720).
// A live wall (30 new wall pictures a second) at a still angle runs against a still wall.
// Both canvases at once (a landscape 1280x720 and a vertical 720x1280 feed) run against the
// landscape feed alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/program-feed/ProgramFeed.h"
#include "bench/support/BenchSupport.h"
#include "platform/media/PictureConverter.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace {

using vantry::VantryMetalEngine;
namespace fs = std::filesystem;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr double kSeconds = 4.0;
constexpr double kSettleSeconds = 1.0;

// Tells new pictures from repeats by a sample of their pixels (every 4th pixel of every 4th
// row) and keeps the processor time it spends on that, which the counters leave out: it is the
// benchmark's own work, not the feed's.
struct PictureSampler {
    int width = 0;
    int height = 0;
    std::atomic<std::int64_t> fresh{0};
    std::atomic<std::int64_t> ownNanoseconds{0};
    std::uint64_t lastSum = 0;

    static std::int64_t threadNanoseconds() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }
    void take(const std::uint8_t* pixels, std::ptrdiff_t stride) {
        const std::int64_t began = threadNanoseconds();
        std::uint64_t sum = 1469598103934665603ull;
        for (int y = 0; y < height; y += 4) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(pixels + y * stride);
            for (int x = 0; x < width; x += 4) sum = (sum ^ row[x]) * 1099511628211ull;
        }
        if (sum != lastSum) ++fresh;
        lastSum = sum;
        ownNanoseconds += threadNanoseconds() - began;
    }
    double ownSeconds() const { return 1e-9 * double(ownNanoseconds.load()); }
};

// An H.264 encoder run as a live stream runs one: each picture the feed hands over is copied
// in, and a thread of its own encodes the latest 30 times a second (the last one again when no
// new one came), so that the feed never waits for it. Slots it falls behind on are skipped.
class PacedEncoder {
  public:
    PacedEncoder(const fs::path& out, int width, int height)
        : sink_(vantry::openMP4VideoSink(out, {width, height, 30, 4'500'000})),
          width_(width),
          height_(height),
          latest_(std::size_t(width) * std::size_t(height) * 4),
          work_(latest_.size()) {
        thread_ = std::thread([this] { run(); });
    }
    ~PacedEncoder() { finish(); }
    void offer(const std::uint8_t* pixels, std::ptrdiff_t stride) {
        const std::size_t row = std::size_t(width_) * 4;
        std::lock_guard<std::mutex> guard(mutex_);
        for (int y = 0; y < height_; ++y)
            std::memcpy(latest_.data() + row * std::size_t(y), pixels + stride * y, row);
    }
    void finish() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (stopping_) return;
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
        sink_->finish();
    }
    std::int64_t encoded() const { return encoded_; }

  private:
    void run() {
        using Clock = std::chrono::steady_clock;
        const auto interval =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 30));
        auto next = Clock::now();
        for (std::int64_t index = 0;; ++index) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait_until(lock, next, [this] { return stopping_; });
                if (stopping_) return;
                work_ = latest_;
            }
            sink_->appendBGRA(work_.data(), std::ptrdiff_t(width_) * 4, index);
            ++encoded_;
            next += interval;
            if (next < Clock::now()) next = Clock::now();
        }
    }
    std::unique_ptr<vantry::ExportVideoSink> sink_;
    const int width_;
    const int height_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::uint8_t> latest_;
    std::vector<std::uint8_t> work_;
    std::atomic<std::int64_t> encoded_{0};
    std::thread thread_;
};

// The presenter as the window shows it by default, floating over the picture: a plain picture.
vantry::app::feed::ProgramPresenter floatingPresenter() {
    vantry::app::feed::ProgramPresenter presenter;
    presenter.visible = true;
    presenter.look.viewportWidth = 1280;
    presenter.look.viewportHeight = 720;
    QImage person(640, 480, QImage::Format_ARGB32_Premultiplied);
    person.fill(QColor(180, 120, 90));
    presenter.picture = person;
    return presenter;
}

// Each picture of the 1280 x 720 feed goes to the sampler and, when there is one, the encoder.
void takePictures(vantry::app::feed::ProgramFeed& feed, PictureSampler& sampler, PacedEncoder* encoder) {
    sampler.width = kWidth;
    sampler.height = kHeight;
    feed.setOutput(vantry::app::feed::ProgramFeed::Slot::stream,
                   [&sampler, encoder](const std::uint8_t* pixels, std::ptrdiff_t stride) {
                       sampler.take(pixels, stride);
                       if (encoder) encoder->offer(pixels, stride);
                   });
}

// Baseline: one export frame (render, read back, encode H.264 at 16 Mbit/s), from a 2-second export.
void BM_Baseline_ExportPerFrame(benchmark::State& state) {
    const fs::path out = fs::temp_directory_path() / "vantry_feed_bench_export.mp4";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        vantry::bench::sharedEngine().exportBroadcastMP4(kWidth, kHeight, 2.0, out);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds / 60.0);
    }
    fs::remove(out);
}
BENCHMARK(BM_Baseline_ExportPerFrame)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// The feed running in real time with the presenter on. Arguments: encode (an H.264 encoder takes
// the pictures, as a stream does: PacedEncoder), moving (0: a still angle, screen shoulder; 1:
// the wide desk's moving camera), inSet (0: the presenter floats over the picture; 1: it stands
// in the set, a new camera picture 30 times a second as from a webcam), rest (after a picture
// that took longer than a slot, the feed rests this many hundredths of the time it took and
// starts the next picture off its grid; 0: as it paced itself before, resting as long as the
// picture took and then waiting for the next slot of its grid). New pictures a second: those
// that differ from the one before.
void BM_ProgramFeedRealTime(benchmark::State& state) {
    const bool encode = state.range(0) != 0;
    const bool moving = state.range(1) != 0;
    const bool inSet = state.range(2) != 0;
    // The feed as it paced itself before: resting as long as a long picture took, then waiting
    // for the next slot of its grid.
    const bool before = state.range(3) == 0;
    const double rest = before ? 1.0 : double(state.range(3)) / 100.0;
    auto& engine = vantry::bench::sharedEngine();
    engine.setCameraAngle(moving ? vantry::BroadcastCameraAngle::wideDesk
                                 : vantry::BroadcastCameraAngle::screenShoulder);
    const fs::path out = fs::temp_directory_path() / "vantry_feed_bench_stream.mp4";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        vantry::app::feed::ProgramFeed feed(kWidth, kHeight, 30, [start, &engine](int w, int h) {
            const float t = std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
            return engine.renderOffscreenShared(w, h, t);
        });
        vantry::app::feed::ProgramPresenter presenter = floatingPresenter();
        presenter.inSet = inSet;
        feed.setPresenter(presenter);
        feed.setRestShare(rest);
        feed.setKeepsToGrid(before);
        std::unique_ptr<PacedEncoder> encoder;
        if (encode) encoder = std::make_unique<PacedEncoder>(out, kWidth, kHeight);
        PictureSampler sampler;
        takePictures(feed, sampler, encoder.get());
        // The camera: a new cut-out 30 times a second while the presenter stands in the set.
        std::atomic<bool> cameraOn{inSet};
        std::thread camera;
        if (inSet) {
            camera = std::thread([&] {
                QImage cutout(640, 480, QImage::Format_ARGB32_Premultiplied);
                for (int n = 0; cameraOn; ++n) {
                    cutout.fill(Qt::transparent);
                    QPainter painter(&cutout);
                    painter.setBrush(QColor(180, 120 + n % 60, 90));
                    painter.setPen(Qt::NoPen);
                    painter.drawEllipse(QRect(220 + n % 20, 40, 200, 420));
                    painter.end();
                    engine.setInSetPresenter(cutout.copy());
                    std::this_thread::sleep_for(std::chrono::milliseconds(33));
                }
            });
        }
        // Counted over kSeconds once the feed has run for kSettleSeconds (its first pictures
        // draw the stage).
        feed.start();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));
        const auto settled = feed.stats();
        const std::int64_t fresh0 = sampler.fresh;
        const std::int64_t encoded0 = encoder ? encoder->encoded() : 0;
        const double cpu0 = vantry::bench::cpuSeconds() - sampler.ownSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        const double cpu = vantry::bench::cpuSeconds() - sampler.ownSeconds() - cpu0;
        const auto stats = feed.stats();
        const std::int64_t freshCount = sampler.fresh - fresh0;
        const std::int64_t encoded = encoder ? encoder->encoded() - encoded0 : 0;
        feed.stop();
        cameraOn = false;
        if (camera.joinable()) camera.join();
        engine.setInSetPresenter(QImage());
        if (encoder) encoder->finish();
        const double rendered = double(stats.rendered - settled.rendered);
        state.counters["new_pictures_per_s"] = double(freshCount) / kSeconds;
        if (encoder) state.counters["encoded_per_s"] = double(encoded) / kSeconds;
        state.counters["rendered_per_s"] = rendered / kSeconds;
        state.counters["slots_missed_per_s"] = double(stats.late - settled.late) / kSeconds;
        state.counters["cpu_s_per_s"] = cpu / kSeconds;
        state.counters["ms_per_picture"] = rendered > 0 ? 1000.0 * kSeconds / rendered : 0;
    }
    fs::remove(out);
}
BENCHMARK(BM_ProgramFeedRealTime)
    ->ArgNames({"encode", "moving", "inSet", "rest"})
    ->Args({0, 1, 0, 0})
    ->Args({0, 1, 0, 25})
    ->Args({1, 0, 0, 25})
    ->Args({1, 0, 1, 25})
    ->Args({1, 1, 0, 0})
    ->Args({1, 1, 0, 50})
    ->Args({1, 1, 0, 25})
    ->Args({1, 1, 1, 0})
    ->Args({1, 1, 1, 25})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Two different wall pictures at the live sources' size and format (1280 x 720, premultiplied
// ARGB32), as a video or a shared screen hands them over.
QImage liveWallPicture(int seed) {
    QImage picture(1280, 720, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 1280, 720);
    gradient.setColorAt(0, QColor::fromHsv(seed * 120 % 360, 200, 230));
    gradient.setColorAt(1, QColor::fromHsv((seed * 120 + 150) % 360, 180, 90));
    painter.fillRect(picture.rect(), gradient);
    painter.fillRect(QRect(200 + 400 * (seed % 2), 200, 300, 300), Qt::white);
    painter.end();
    return picture;
}

// The feed in real time at a still angle (screen shoulder) with the presenter floating, while
// the wall shows a live source: a new picture 30 times a second (three pictures in turn, as from a
// video or a shared screen), against a still wall (the baseline) in the same run. Arguments:
// live (0: the wall's picture stays, 1: 30 new pictures a second, 2: the same with the set
// loaded again with each, so that every frame is drawn in full, as without the wall pass), encode (an H.264
// encoder takes the pictures as a stream does: PacedEncoder). Counters: pictures rendered a second, new
// pictures a second (pictures that differ from the one before), processor seconds a second (less the
// benchmark's own sampling).
void BM_ProgramFeedLiveWall(benchmark::State& state) {
    const bool live = state.range(0) != 0;
    const bool fullRedraw = state.range(0) == 2;
    const bool encode = state.range(1) != 0;
    auto& engine = vantry::bench::sharedEngine();
    engine.setCameraAngle(vantry::BroadcastCameraAngle::screenShoulder);
    engine.setInSetPresenter(QImage());
    // Three pictures in turn: a slot that sees two changes still shows a new picture.
    const QImage pictures[3] = {liveWallPicture(0), liveWallPicture(1), liveWallPicture(2)};
    engine.showLEDWallPicture(pictures[0], "Video");
    const fs::path out = fs::temp_directory_path() / "vantry_feed_bench_wall.mp4";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        vantry::app::feed::ProgramFeed feed(kWidth, kHeight, 30, [start, &engine](int w, int h) {
            const float t = std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
            return engine.renderOffscreenShared(w, h, t);
        });
        const vantry::app::feed::ProgramPresenter presenter = floatingPresenter();
        feed.setPresenter(presenter);
        std::unique_ptr<PacedEncoder> encoder;
        if (encode) encoder = std::make_unique<PacedEncoder>(out, kWidth, kHeight);
        PictureSampler sampler;
        takePictures(feed, sampler, encoder.get());
        std::atomic<bool> sourceOn{live};
        std::thread source;
        if (live) {
            source = std::thread([&] {
                auto next = std::chrono::steady_clock::now();
                for (int n = 1; sourceOn; ++n) {
                    engine.showLEDWallPicture(pictures[n % 3], "Video");
                    if (fullRedraw) engine.loadSet(vantry::BroadcastStudioSet::manhattanLoft);
                    next += std::chrono::microseconds(33'333);
                    std::this_thread::sleep_until(next);
                }
            });
        }
        feed.start();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));
        const auto settled = feed.stats();
        const std::int64_t fresh0 = sampler.fresh;
        const auto draws0 = engine.drawCounts();
        const double cpu0 = vantry::bench::cpuSeconds() - sampler.ownSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        const double cpu = vantry::bench::cpuSeconds() - sampler.ownSeconds() - cpu0;
        const auto stats = feed.stats();
        const std::int64_t freshCount = sampler.fresh - fresh0;
        const auto draws = engine.drawCounts();
        feed.stop();
        sourceOn = false;
        if (source.joinable()) source.join();
        if (encoder) encoder->finish();
        state.counters["rendered_per_s"] = double(stats.rendered - settled.rendered) / kSeconds;
        state.counters["new_pictures_per_s"] = double(freshCount) / kSeconds;
        state.counters["slots_missed_per_s"] = double(stats.late - settled.late) / kSeconds;
        state.counters["cpu_s_per_s"] = cpu / kSeconds;
        state.counters["wall_passes_per_s"] = double(draws.wallPasses - draws0.wallPasses) / kSeconds;
        state.counters["stage_passes_per_s"] = double(draws.stagePasses - draws0.stagePasses) / kSeconds;
    }
    engine.showBuiltInWall();
    fs::remove(out);
}
BENCHMARK(BM_ProgramFeedLiveWall)
    ->ArgNames({"live", "encode"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The feeds of the canvases in use, each a ProgramFeed rendering its canvas through the engine,
// with the presenter floating over each, in real time: the landscape feed alone (the baseline)
// or with the vertical one beside it (720 x 1280), at a still angle (screen shoulder) or a moving
// one (the wide desk). Arguments: canvases (1: landscape alone, 2: landscape and vertical),
// moving. Counters, for each canvas: pictures handed out a second and new pictures a second
// (those that differ from the one before, from a sample of every 4th pixel of every 4th row);
// processor seconds a second for the whole, less the benchmark's own sampling.
void BM_ProgramFeedCanvases(benchmark::State& state) {
    const int canvasCount = int(state.range(0));
    const bool moving = state.range(1) != 0;
    auto& engine = vantry::bench::sharedEngine();
    engine.setInSetPresenter(QImage());
    engine.setCameraAngle(moving ? vantry::BroadcastCameraAngle::wideDesk
                                 : vantry::BroadcastCameraAngle::screenShoulder);
    const vantry::ProgramCanvas all[2] = {vantry::ProgramCanvas::landscape, vantry::ProgramCanvas::vertical};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        struct Canvas {
            std::unique_ptr<vantry::app::feed::ProgramFeed> feed;
            PictureSampler sampler;
        };
        Canvas canvases[2];
        const vantry::app::feed::ProgramPresenter presenter = floatingPresenter();
        for (int k = 0; k < canvasCount; ++k) {
            const vantry::ProgramCanvas canvas = all[k];
            const auto size = vantry::programCanvasSize(canvas, kWidth, kHeight);
            Canvas& c = canvases[k];
            c.feed = std::make_unique<vantry::app::feed::ProgramFeed>(
                size.width, size.height, 30,
                [start, &engine, canvas](int w, int h) {
                    const float t =
                        std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
                    return engine.renderOffscreenShared(w, h, t, canvas);
                },
                canvas);
            c.feed->setPresenter(presenter);
            c.sampler.width = size.width;
            c.sampler.height = size.height;
            c.feed->setOutput(
                vantry::app::feed::ProgramFeed::Slot::stream,
                [&c](const std::uint8_t* pixels, std::ptrdiff_t stride) { c.sampler.take(pixels, stride); });
        }
        for (int k = 0; k < canvasCount; ++k) canvases[k].feed->start();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));
        vantry::app::feed::ProgramFeed::Stats settled[2];
        std::int64_t fresh0[2] = {0, 0};
        const auto samplersSeconds = [&] {
            double seconds = 0;
            for (int k = 0; k < canvasCount; ++k) seconds += canvases[k].sampler.ownSeconds();
            return seconds;
        };
        for (int k = 0; k < canvasCount; ++k) {
            settled[k] = canvases[k].feed->stats();
            fresh0[k] = canvases[k].sampler.fresh;
        }
        const double cpu0 = vantry::bench::cpuSeconds() - samplersSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        const double cpu = vantry::bench::cpuSeconds() - samplersSeconds() - cpu0;
        for (int k = 0; k < canvasCount; ++k) {
            const auto stats = canvases[k].feed->stats();
            const std::string name(vantry::programCanvasName(all[k]));
            state.counters[name + "_rendered_per_s"] =
                double(stats.rendered - settled[k].rendered) / kSeconds;
            state.counters[name + "_new_per_s"] = double(canvases[k].sampler.fresh - fresh0[k]) / kSeconds;
            state.counters[name + "_missed_per_s"] = double(stats.late - settled[k].late) / kSeconds;
        }
        for (int k = 0; k < canvasCount; ++k) canvases[k].feed->stop();
        state.counters["cpu_s_per_s"] = cpu / kSeconds;
    }
}
BENCHMARK(BM_ProgramFeedCanvases)
    ->ArgNames({"canvases", "moving"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Where a picture's processor time goes at a still angle, with the presenter floating: pictures
// made one after another (no pacing, so the load of the machine does not thin them out), each
// step timed by this process's processor time (the GL driver's threads included). Argument
// live: 0, the wall's picture stays; 1, a new wall picture with every frame. Counters, in
// milliseconds a picture: wall (handing the engine the picture), studio (upload, wall pass,
// resolve, read-back and hand-over), compose (the floating presenter), yuv (BGRA to yuv420p
// alone, as the encoder converts), encode (the writer: conversion, x264, muxing), total.
void BM_LiveWallSteps(benchmark::State& state) {
    const bool live = state.range(0) != 0;
    auto& engine = vantry::bench::sharedEngine();
    engine.setCameraAngle(vantry::BroadcastCameraAngle::screenShoulder);
    engine.setInSetPresenter(QImage());
    const QImage pictures[2] = {liveWallPicture(0), liveWallPicture(1)};
    engine.showLEDWallPicture(pictures[0], "Video");
    const vantry::app::feed::ProgramPresenter presenter = floatingPresenter();
    const fs::path out = fs::temp_directory_path() / "vantry_feed_bench_steps.mp4";
    const auto cpuNow = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
    };
    constexpr int kWarm = 10;
    constexpr int kFrames = 90;
    for (auto _ : state) {
        auto sink = vantry::openMP4VideoSink(out, {kWidth, kHeight, 30, 4'500'000});
        vantry::platform::media::PictureConverter yuv(kWidth, kHeight);
        double wall = 0, studio = 0, compose = 0, convert = 0, encode = 0;
        const double all0 = cpuNow();
        double counted0 = all0;
        for (int n = 0; n < kWarm + kFrames; ++n) {
            if (n == kWarm) {
                wall = studio = compose = convert = encode = 0;
                counted0 = cpuNow();
            }
            const double t0 = cpuNow();
            if (live) engine.showLEDWallPicture(pictures[n % 2], "Video");
            const double t1 = cpuNow();
            auto pixels = engine.renderOffscreenBGRA(kWidth, kHeight, std::nullopt);
            const double t2 = cpuNow();
            if (!pixels) {
                state.SkipWithError("no frame");
                return;
            }
            QImage frame(pixels->data(), kWidth, kHeight, kWidth * 4, QImage::Format_ARGB32_Premultiplied);
            vantry::app::feed::composePresenter(frame, presenter);
            const double t3 = cpuNow();
            yuv.convertBGRA(frame.constBits(), frame.bytesPerLine());
            const double t4 = cpuNow();
            sink->appendBGRA(frame.constBits(), frame.bytesPerLine(), n);
            const double t5 = cpuNow();
            wall += t1 - t0;
            studio += t2 - t1;
            compose += t3 - t2;
            convert += t4 - t3;
            encode += t5 - t4;
        }
        const double total = cpuNow() - counted0;
        sink->finish();
        const double ms = 1000.0 / kFrames;
        state.counters["wall_ms"] = wall * ms;
        state.counters["studio_ms"] = studio * ms;
        state.counters["compose_ms"] = compose * ms;
        state.counters["yuv_ms"] = convert * ms;
        state.counters["encode_ms"] = encode * ms;
        state.counters["total_ms"] = total * ms;
        // The picture without the separate conversion, as the feed makes it.
        state.counters["feed_ms"] = (total - convert) * ms;
    }
    engine.showBuiltInWall();
    fs::remove(out);
}
BENCHMARK(BM_LiveWallSteps)->ArgNames({"live"})->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
