// The live voice path and the co-op session, all on loopback with fake audio devices.
//  - Capture step per 1024-frame buffer at 48 kHz, against copying that buffer (baseline); the
//    bufferShare counter is the step's share of the buffer's 21.3 ms.
//  - Mouth to ear: a captured buffer at peer A until its stereo buffer is queued at peer B (no device
//    buffers), against one UDP datagram on loopback from send to receive (baseline).
//  - A four-peer session with voice on: every peer sends state at 20 Hz and a voice block every
//    21.3 ms; cpuPerPeer is the process CPU time per peer as a share of one core.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <thread>

#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"
#include "tests/creator/coop-voice/FakeAudio.h"
#include "tests/support/EventPump.h"
#include "tests/support/Ports.h"

using namespace vantry;
using namespace vantry::creator;
using Manager = OruLiveMultipeerCoopManagerV1170;
using Engine = OruLive3DProximityVoiceEngineV1170;

namespace {

// Runs this thread's event loop until done() holds, `seconds` at most.
bool waitUntil(const std::function<bool()>& done, double seconds) {
    return vantry::testing::pumpUntil(done, int(seconds * 1000));
}

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "bench_coop_session";
    static char* argv[] = {name, nullptr};
    static auto* instance = new QCoreApplication(argc, argv);
    return *instance;
}

std::vector<float> tone(std::size_t n, float amplitude) {
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = amplitude * float(std::sin(2 * M_PI * 300 * i / 48000.0));
    return s;
}

struct Peer {
    std::shared_ptr<fakes::FakeAudioBackend> backend = std::make_shared<fakes::FakeAudioBackend>();
    std::unique_ptr<Manager> manager;
    explicit Peer(const std::string& name) {
        CoopManagerOptions options;
        options.displayName = name;
        options.loopback = true;
        options.loopbackBasePort = vantry::testing::processBasePort();
        options.audio = backend;
        manager = std::make_unique<Manager>(options);
    }
};

bool joinAll(std::vector<std::unique_ptr<Peer>>& peers) {
    for (auto& p : peers) p->manager->startCoopLobby(std::string("BENCH-1"));
    const bool ok = waitUntil(
        [&] {
            for (auto& p : peers)
                if (p->manager->connectedPeerNames().size() != peers.size() - 1) return false;
            return true;
        },
        30);
    for (auto& p : peers) p->manager->setVoiceMicEnabled(true);
    return ok;
}

void BM_Baseline_CopyBuffer1024(benchmark::State& state) {
    const auto in = tone(1024, 0.5f);
    std::vector<float> out(1024);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size() * sizeof(float));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Baseline_CopyBuffer1024);

void BM_CaptureStep1024At48k(benchmark::State& state) {
    const auto in = tone(1024, 0.5f);
    VoiceCaptureScratch scratch;
    scratch.reserve(8192);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Engine::captureStep(in.data(), 1024, 48000, scratch));
        benchmark::DoNotOptimize(scratch.packet.data());
    }
    const double perBuffer = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                             static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["bufferSharePercent"] = 100.0 * perBuffer / (1024.0 / 48000.0);
}
BENCHMARK(BM_CaptureStep1024At48k);

void BM_Baseline_LoopbackDatagram(benchmark::State& state) {
    const int rx = ::socket(AF_INET, SOCK_DGRAM, 0), tx = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(rx, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(rx, reinterpret_cast<sockaddr*>(&addr), &len);
    std::uint8_t bytes[183] = {};
    for (auto _ : state) {
        ::sendto(tx, bytes, sizeof bytes, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        benchmark::DoNotOptimize(::recv(rx, bytes, sizeof bytes, 0));
    }
    ::close(rx);
    ::close(tx);
}
BENCHMARK(BM_Baseline_LoopbackDatagram)->UseRealTime();

void BM_MouthToEarLoopback(benchmark::State& state) {
    app();
    std::vector<std::unique_ptr<Peer>> peers;
    peers.push_back(std::make_unique<Peer>("mouth"));
    peers.push_back(std::make_unique<Peer>("ear"));
    if (!joinAll(peers)) {
        state.SkipWithError("peers did not connect");
        return;
    }
    auto& heard = peers[1]->backend->state->queued;
    const auto block = tone(1024, 0.5f);
    for (auto _ : state) {
        const std::size_t before = heard.size();
        peers[0]->backend->state->capture(block, 48000);
        if (!waitUntil([&] { return heard.size() > before; }, 2)) {
            state.SkipWithError("voice did not arrive");
            break;
        }
        if (heard.size() > 64) heard.clear();
    }
}
BENCHMARK(BM_MouthToEarLoopback)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_FourPeerSessionWithVoice(benchmark::State& state) {
    app();
    std::vector<std::unique_ptr<Peer>> peers;
    for (const char* name : {"p1", "p2", "p3", "p4"}) peers.push_back(std::make_unique<Peer>(name));
    if (!joinAll(peers)) {
        state.SkipWithError("peers did not connect");
        return;
    }
    const auto block = tone(1024, 0.5f);
    auto cpuSeconds = [] {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec + ts.tv_nsec * 1e-9;
    };
    // Drives the peers like a game loop at about 1 kHz for the given seconds.
    auto drive = [&](double seconds, const std::function<void(float)>& frame) {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const float t = std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
            if (t >= seconds) return;
            frame(t);
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    // Baseline: the same loop with nothing to do.
    const double idle0 = cpuSeconds();
    drive(1.0, [](float) {});
    const double idleShare = (cpuSeconds() - idle0) / 1.0;

    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double cpu0 = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        auto nextVoice = start;
        drive(3.0, [&](float) {
            const auto now = std::chrono::steady_clock::now();
            const float t = std::chrono::duration<float>(now - start).count();
            for (std::size_t i = 0; i < peers.size(); ++i)
                peers[i]->manager->broadcastLocalState({std::cos(t + i), 0, std::sin(t + i)}, t, false, false,
                                                       -1);
            if (now >= nextVoice) {
                for (auto& p : peers) {
                    p->backend->state->capture(block, 48000);
                    p->backend->state->queued.clear();
                }
                nextVoice += std::chrono::microseconds(21333);
            }
        });
        cpu += cpuSeconds() - cpu0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    // CPU time per peer as a share of one core, less what the driving loop costs on its own.
    state.counters["loopOnlyShare"] = idleShare;
    state.counters["cpuPerPeer"] = (cpu / wall - idleShare) / static_cast<double>(peers.size());
}
BENCHMARK(BM_FourPeerSessionWithVoice)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
