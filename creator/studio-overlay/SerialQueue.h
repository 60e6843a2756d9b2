// A private serial queue: one worker thread running tasks in the order they were queued.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

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

    bool isWorkerThread() const { return std::this_thread::get_id() == worker_.get_id(); }

  private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace vantry::creator
