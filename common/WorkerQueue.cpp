#include "common/WorkerQueue.h"

namespace vantry {

WorkerQueue::WorkerQueue(OnShutdown rule, std::function<void()> onStart, std::function<void()> onStop)
    : rule_(rule) {
    thread_ = std::thread([this, start = std::move(onStart), stop = std::move(onStop)]() mutable {
        loop(std::move(start), std::move(stop));
    });
}

WorkerQueue::~WorkerQueue() {
    shutdown();
    if (thread_.joinable()) thread_.join();
}

bool WorkerQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
    return true;
}

void WorkerQueue::shutdown() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (rule_ == OnShutdown::dropQueued) dropped.swap(tasks_);
    }
    wake_.notify_one();
    if (thread_.joinable() && !isWorkerThread()) thread_.join();
    // dropped tasks are destroyed here, outside the lock
}

void WorkerQueue::loop(std::function<void()> onStart, std::function<void()> onStop) {
    if (onStart) onStart();
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) break;  // stopping, and nothing left to run
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
    if (onStop) onStop();
}

}  // namespace vantry
