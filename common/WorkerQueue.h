// One worker thread running queued tasks one at a time, in the order they were queued.
//
// Shutdown rule: shutdown() stops taking tasks (post() then returns false and drops the
// task), lets the running task finish, then either runs every task queued before it
// (OnShutdown::runQueued) or drops them (OnShutdown::dropQueued), and joins the thread.
// It is idempotent and runs from the destructor. Called on the worker thread itself it
// only stops the queue; the owner's later shutdown or destruction joins.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vantry {

class WorkerQueue {
  public:
    enum class OnShutdown { runQueued, dropQueued };

    // Starts the thread. onStart runs there before the first task, onStop after the last.
    explicit WorkerQueue(OnShutdown rule, std::function<void()> onStart = {},
                         std::function<void()> onStop = {});
    ~WorkerQueue();
    WorkerQueue(const WorkerQueue&) = delete;
    WorkerQueue& operator=(const WorkerQueue&) = delete;

    // Queues task; false (and the task dropped) once shutdown has begun.
    bool post(std::function<void()> task);
    void shutdown();

    bool isWorkerThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    std::thread::native_handle_type nativeHandle() { return thread_.native_handle(); }

  private:
    void loop(std::function<void()> onStart, std::function<void()> onStop);

    const OnShutdown rule_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace vantry
