// A private serial queue: one worker thread running tasks in the order they were queued.
#pragma once

#include <functional>
#include <string>

#include "common/WorkerQueue.h"

namespace vantry::creator {

class SerialQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    // Queues task; after shutdown() tasks are dropped.
    void async(std::function<void()> task);

    // Lets the running task finish, drops the queued ones and joins the worker. Idempotent;
    // must not be called from the worker itself.
    void shutdown();

    bool isWorkerThread() const { return queue_.isWorkerThread(); }

  private:
    std::string label_;
    WorkerQueue queue_{WorkerQueue::OnShutdown::dropQueued};
};

}  // namespace vantry::creator
