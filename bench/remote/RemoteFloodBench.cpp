// The studio window's frame time while a remote-control client floods the server, against the
// same window left alone (the baseline), in one run. The flooding client runs on its own thread:
// it sends state requests as fast as it can and, each time the server closes it for flooding,
// connects and authenticates again, so the window also pays for the handshakes.
// Needs a display: xvfb-run -a build/bench/remote/bench_remote_flood
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>

#include "app/remote/RemoteClient.h"
#include "app/remote/RemoteSecret.h"
#include "app/remote/RemoteServer.h"
#include "app/remote/ViewModelRemoteStudio.h"
#include "bench/support/BenchStudioWindow.h"

namespace {

using Studio = vantry::bench::BenchStudioWindow;

Studio* studio() {
    return &vantry::bench::benchStudioWindow("bench_remote_flood");
}

void frames(benchmark::State& state, Studio* s) {
    for (auto _ : state) {
        if (!s->waitFrames(1)) {
            state.SkipWithError("the viewport stopped drawing");
            return;
        }
    }
    state.SetLabel(s->glRenderer.toStdString());
}

void BM_WindowFrameQuiet(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) return state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
    frames(state, s);
}

void BM_WindowFrameWhileClientFloods(benchmark::State& state) {
    Studio* s = studio();
    if (!s->viewport) return state.SkipWithError("needs a display with OpenGL 3.3 (run under xvfb-run)");
    vantry::remote::RemoteServer::Options options;
    options.port = 0;
    options.secretHex = vantry::remote::randomHex(32);
    vantry::remote::ViewModelRemoteStudio remoteStudio(s->host->viewModel());
    vantry::remote::RemoteServer server(remoteStudio, nullptr, options);
    if (!server.listen(nullptr)) return state.SkipWithError("cannot listen on 127.0.0.1");

    std::atomic<bool> stop{false};
    std::atomic<long long> sent{0};
    std::atomic<int> sessions{0};
    std::unique_ptr<QThread> flooder(QThread::create([&] {
        while (!stop) {
            vantry::remote::RemoteClient client;
            if (!client.connectTo(QStringLiteral("127.0.0.1"), server.port(), options.secretHex, 5000,
                                  nullptr))
                continue;
            ++sessions;
            while (!stop && client.isOpen()) {
                for (int i = 0; i < 50; ++i) client.sendRaw(QStringLiteral(R"({"id":1,"request":"state"})"));
                sent += 50;
                client.nextMessage(1);
            }
        }
    }));
    flooder->start();
    frames(state, s);
    stop = true;
    // The flooder's handshakes need the server's answers: keep the main loop turning until it ends.
    while (!flooder->wait(10)) QCoreApplication::processEvents();
    state.counters["requestsSent"] = double(sent.load());
    state.counters["sessions"] = double(sessions.load());
}

}  // namespace

BENCHMARK(BM_WindowFrameQuiet)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(BM_WindowFrameWhileClientFloods)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Window, then engine, then the application object, before static teardown.
    studio()->close();
    return 0;
}
