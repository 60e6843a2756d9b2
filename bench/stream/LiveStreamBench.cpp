// Cost of the live stream at 1280x720, 30 fps, 4.5 Mbit/s: a prepared moving picture
// is handed in 30 times a second for several seconds and streamed over RTMP to an
// FFmpeg receiver on 127.0.0.1 (which discards what it gets). Counters: CPU of this
// process per output frame and per second of stream, the frames sent, repeated,
// skipped and dropped, the measured bit rate against the target, and the video
// writer's CPU per frame for the same pictures in the same run (the export path) with
// the ratio between the two. Run for 1, 2 and 4 servers taking the same stream (one receiver
// each): the pictures are encoded once, so the CPU per frame should barely grow with them.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "platform/stream/LiveStream.h"
#include "platform/video/VideoWriter.h"
#include "tests/support/LoopbackListener.h"
#include "tests/support/Ports.h"

extern char** environ;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 30;
constexpr int kPictures = 30;
constexpr double kStreamSeconds = 6;

// A second of studio-like pictures.
const std::vector<std::vector<std::uint8_t>>& pictures() {
    static const auto all = vantry::bench::studioLikePictures(kWidth, kHeight, kPictures);
    return all;
}

// CPU seconds per frame of the video writer (the export path) for the same pictures.
double writerCpuPerFrame() {
    const auto file = std::filesystem::temp_directory_path() / "vantry-bench-stream-writer.mp4";
    vantry::platform::VideoWriterSettings s;
    s.width = kWidth;
    s.height = kHeight;
    s.fps = kFps;
    s.averageBitRate = 4'500'000;
    const int frames = 3 * kFps;
    const double start = vantry::bench::cpuSeconds();
    {
        vantry::platform::VideoWriter writer(file, s);
        for (int n = 0; n < frames; ++n)
            writer.appendBGRA(pictures()[std::size_t(n % kPictures)].data(), kWidth * 4, n);
        writer.finish();
    }
    const double perFrame = (vantry::bench::cpuSeconds() - start) / frames;
    std::filesystem::remove(file);
    return perFrame;
}

void streamToLoopback(benchmark::State& state) {
    pictures();
    static const double writerPerFrame = writerCpuPerFrame();
    const int servers = int(state.range(0));
    std::vector<std::string> bases;
    for (int i = 0; i < servers; ++i)
        bases.push_back("rtmp://127.0.0.1:" + std::to_string(vantry::testing::freePort()) + "/live");
    vantry::platform::LiveStreamStatus end;
    double cpu = 0;
    for (auto _ : state) {
        std::vector<pid_t> receivers;
        for (const std::string& base : bases) {
            std::vector<std::string> args{"ffmpeg", "-hide_banner",  "-loglevel", "quiet", "-listen", "1",
                                          "-i",     base + "/bench", "-f",        "null",  "-"};
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            pid_t receiver = 0;
            const int port = std::stoi(base.substr(base.rfind(':') + 1));
            if (::posix_spawnp(&receiver, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0 ||
                !vantry::testing::waitForListener(port)) {
                state.SkipWithError("no ffmpeg receiver");
                return;
            }
            receivers.push_back(receiver);
        }
        vantry::platform::LiveStreamSettings s;
        s.url = bases.front();
        s.streamKey = "bench";
        s.captureMicrophone = false;
        for (std::size_t i = 1; i < bases.size(); ++i) s.moreDestinations.push_back({bases[i], "bench"});
        const double cpuStart = vantry::bench::cpuSeconds();
        vantry::platform::LiveStream stream(s, nullptr);
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0;
             std::chrono::steady_clock::now() - start < std::chrono::duration<double>(kStreamSeconds); ++n) {
            stream.offerBGRA(pictures()[std::size_t(n % kPictures)].data(), kWidth * 4);
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds(std::int64_t(n + 1) * 1'000'000 / kFps));
        }
        end = stream.status();
        stream.stop();
        cpu = vantry::bench::cpuSeconds() - cpuStart;
        for (const pid_t receiver : receivers) {
            ::kill(receiver, SIGTERM);
            ::waitpid(receiver, nullptr, 0);
        }
    }
    const bool allLive = std::all_of(end.destinations.begin(), end.destinations.end(), [](const auto& d) {
        return d.state == vantry::platform::LiveStreamState::live;
    });
    if (!allLive) end.state = vantry::platform::LiveStreamState::failed;
    if (end.state != vantry::platform::LiveStreamState::live) {
        state.SkipWithError(("the stream did not go live: " + end.message).c_str());
        return;
    }
    const double perFrame = cpu / double(std::max<std::int64_t>(end.framesSent, 1));
    state.counters["stream_cpu_ms_per_frame"] = perFrame * 1e3;
    state.counters["writer_cpu_ms_per_frame"] = writerPerFrame * 1e3;
    state.counters["stream_vs_writer"] = perFrame / writerPerFrame;
    state.counters["cpu_s_per_stream_s"] = cpu / end.elapsedSeconds;
    state.counters["frames_sent"] = double(end.framesSent);
    state.counters["frames_expected"] = std::floor(end.elapsedSeconds * kFps);
    state.counters["repeated"] = double(end.framesRepeated);
    state.counters["skipped"] = double(end.framesSkipped);
    state.counters["dropped"] = double(end.framesDropped);
    // Each server's share: the bit rate the servers took together, over the target for each.
    state.counters["rate_vs_target"] = end.measuredBitRate / 4'500'000 / servers;
}

}  // namespace

BENCHMARK(streamToLoopback)
    ->ArgName("servers")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
