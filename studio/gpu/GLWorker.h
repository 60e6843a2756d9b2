// One thread that owns an offscreen GL context and runs tasks on it one at a time
// (the engine's private serial queue for offscreen work).
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <type_traits>

#include "common/WorkerQueue.h"
#include "platform/gl/EglOffscreenContext.h"

namespace vantry::studio::gl {

class GLWorker {
  public:
    // Starts the thread and makes the context current there. The worker owns the context.
    explicit GLWorker(std::unique_ptr<platform::gl::EglOffscreenContext> context);
    // Runs the tasks still queued, then releases the context and joins.
    ~GLWorker();
    GLWorker(const GLWorker&) = delete;
    GLWorker& operator=(const GLWorker&) = delete;

    // False when the context could not be made current on the worker thread.
    bool ready() const { return ready_; }

    // Queues f; the future carries its result (or its exception).
    template <class F>
    auto submit(F f) -> std::future<std::invoke_result_t<F>> {
        using R = std::invoke_result_t<F>;
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(f));
        std::future<R> result = task->get_future();
        queue_.post([task] { (*task)(); });  // refused after shutdown: the future is broken
        return result;
    }

    template <class F>
    auto run(F f) -> std::invoke_result_t<F> {
        return submit(std::move(f)).get();
    }

  private:
    std::unique_ptr<platform::gl::EglOffscreenContext> context_;
    bool current_ = false;  // written on the worker before started_ is set
    bool ready_ = false;
    std::promise<bool> started_;
    WorkerQueue queue_;  // last: joined before the context goes
};

}  // namespace vantry::studio::gl
