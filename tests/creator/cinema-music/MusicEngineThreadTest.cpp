// The music engine called from several threads at once: values stay consistent and the
// change signals arrive on the engine's own thread only (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

#include "creator/cinema-music/OruSoundOru4AdaptiveMusicEngineV950.h"
#include "platform/dispatch/MainThreadDispatcher.h"

using namespace vantry::creator;
using Engine = OruSoundOru4AdaptiveMusicEngineV950;
using State = OruMusicIntensityStateV950;

namespace {

struct SignalLog {
    int count = 0;
    int offThread = 0;
};

void record(Engine& e, SignalLog& log) {
    QThread* owner = QThread::currentThread();
    const auto note = [&log, owner] {
        ++log.count;
        if (QThread::currentThread() != owner) ++log.offThread;
    };
    QObject::connect(&e, &Engine::currentStateChanged, note);
    QObject::connect(&e, &Engine::targetBPMChanged, note);
    QObject::connect(&e, &Engine::isPlayingChanged, note);
}

TEST(MusicEngineThreads, ChangesFromWorkersArePublishedOnTheMainThreadOnly) {
    vantry::platform::drainMainQueue();
    Engine e(nullptr);
    SignalLog log;
    record(e, log);

    const State states[] = {State::combatDrive, State::tensionPulse, State::victoryResolve,
                            State::coastalSerene};
    std::atomic<bool> done{false};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < 200; ++i) {
                const State s = states[(w + i) % 4];
                if (i % 2)
                    e.setIntensity(s);
                else
                    e.startAdaptiveScore(s, true);
                (void)e.isPlaying();
            }
        });
    }
    // The main thread reads and delivers posted changes while the workers write.
    std::thread stopper([&] {
        for (auto& t : workers) t.join();
        done = true;
    });
    while (!done) {
        (void)e.targetBPM();
        (void)e.currentStateName();
        vantry::platform::drainMainQueue();
    }
    stopper.join();
    vantry::platform::drainMainQueue();

    EXPECT_GT(log.count, 0);
    EXPECT_EQ(log.offThread, 0);
    EXPECT_EQ(e.targetBPM(), e.currentState().targetBPM());
}

TEST(MusicEngineThreads, ChangePostedForAnEngineThatIsGoneIsDropped) {
    vantry::platform::drainMainQueue();
    SignalLog log;
    {
        Engine e(nullptr);
        record(e, log);
        std::thread([&] { e.setIntensity(State::combatDrive); }).join();
    }
    EXPECT_GE(vantry::platform::drainMainQueue(), 1u);
    EXPECT_EQ(log.count, 0);
}

TEST(MusicEngineThreads, ChangesOnTheOwningThreadAreEmittedAtOnce) {
    Engine e(nullptr);
    SignalLog log;
    record(e, log);
    e.setIntensity(State::combatDrive);
    EXPECT_EQ(log.count, 2);  // state and tempo
    EXPECT_EQ(vantry::platform::drainMainQueue(), 0u);
}

}  // namespace
