#include "studio/gpu/GLWorker.h"

namespace vantry::studio::gl {

GLWorker::GLWorker(std::unique_ptr<platform::gl::EglOffscreenContext> context)
    : context_(std::move(context)),
      queue_(
          WorkerQueue::OnShutdown::runQueued,
          [this] {
              current_ = context_ && context_->makeCurrent();
              started_.set_value(current_);
          },
          [this] {
              if (current_) context_->doneCurrent();
          }) {
    ready_ = started_.get_future().get();
}

// The queue's destructor runs the tasks still queued, then releases the context and joins.
GLWorker::~GLWorker() = default;

}  // namespace vantry::studio::gl
