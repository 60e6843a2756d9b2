#include "studio/gpu/GLWorker.h"

namespace vantry::studio_gl {

GLWorker::GLWorker(std::unique_ptr<platform::gl::EglOffscreenContext> context)
    : context_(std::move(context)) {
    auto started = started_.get_future();
    thread_ = std::thread([this] { loop(); });
    ready_ = started.get();
}

GLWorker::~GLWorker() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void GLWorker::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void GLWorker::loop() {
    const bool current = context_ && context_->makeCurrent();
    started_.set_value(current);
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> guard(mutex_);
            wake_.wait(guard, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) break;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
    if (current) context_->doneCurrent();
}

}  // namespace vantry::studio_gl
