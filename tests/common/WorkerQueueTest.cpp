// The worker queue's ordering and its two shutdown rules.
#include "common/WorkerQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using vantry::WorkerQueue;

// Blocks the worker inside a task until released, so tests can queue behind it.
struct Gate {
    std::promise<void> entered, release;
    std::shared_future<void> released{release.get_future().share()};
    std::function<void()> task() {
        return [this] {
            entered.set_value();
            released.wait();
        };
    }
};

TEST(WorkerQueue, RunsTasksInOrderOnOneThreadBetweenStartAndStop) {
    std::vector<int> seen;
    std::thread::id startThread, stopThread, taskThread;
    {
        WorkerQueue q(
            WorkerQueue::OnShutdown::runQueued, [&] { startThread = std::this_thread::get_id(); },
            [&] { stopThread = std::this_thread::get_id(); });
        for (int i = 0; i < 100; ++i)
            q.post([&, i] {
                seen.push_back(i);
                taskThread = std::this_thread::get_id();
                EXPECT_TRUE(q.isWorkerThread());
            });
        EXPECT_FALSE(q.isWorkerThread());
    }
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(startThread, taskThread);
    EXPECT_EQ(stopThread, taskThread);
    EXPECT_NE(taskThread, std::this_thread::get_id());
}

TEST(WorkerQueue, ShutdownRunsOrDropsWhatIsQueuedAndRefusesLaterTasks) {
    const struct {
        WorkerQueue::OnShutdown rule;
        bool runsQueued;
    } cases[] = {{WorkerQueue::OnShutdown::runQueued, true}, {WorkerQueue::OnShutdown::dropQueued, false}};
    for (const auto& c : cases) {
        std::atomic<int> runs{0};
        Gate gate;
        WorkerQueue q(c.rule);
        q.post([&] {
            ++runs;
            gate.task()();
        });
        gate.entered.get_future().wait();
        for (int i = 0; i < 5; ++i) EXPECT_TRUE(q.post([&] { ++runs; }));
        std::thread closer([&] { q.shutdown(); });
        int queued = 5;
        while (q.post([&] { ++runs; })) ++queued;  // until shutdown has begun
        // The running task finishes whatever the rule.
        gate.release.set_value();
        closer.join();
        const int expected = c.runsQueued ? 1 + queued : 1;
        EXPECT_EQ(runs.load(), expected);
        EXPECT_FALSE(q.post([&] { ++runs; }));
        q.shutdown();  // idempotent
        EXPECT_EQ(runs.load(), expected);
    }
}

TEST(WorkerQueue, ShutdownFromATaskStopsTheQueueWithoutJoiningItself) {
    std::atomic<int> runs{0};
    {
        WorkerQueue q(WorkerQueue::OnShutdown::dropQueued);
        std::promise<void> done;
        q.post([&] {
            q.shutdown();
            ++runs;
            done.set_value();
        });
        done.get_future().wait();
        EXPECT_FALSE(q.post([&] { ++runs; }));
    }
    EXPECT_EQ(runs.load(), 1);
}

}  // namespace
