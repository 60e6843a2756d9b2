#include "platform/wall-feed/FeedThread.h"

#include <utility>

namespace vantry::platform::wall {

FeedThread::FeedThread(FeedCallbacks callbacks, FeedClock clock)
    : callbacks_(std::move(callbacks)), clock_(std::move(clock)) {}

FeedThread::~FeedThread() {
    stop();
}

void FeedThread::start(std::function<void()> body) {
    thread_ = std::thread(std::move(body));
}

void FeedThread::stop(const std::function<void()>& onStop) {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (onStop) onStop();
    if (thread_.joinable()) thread_.join();
}

FeedClock::TimePoint FeedThread::now() const {
    return clock_.now ? clock_.now() : std::chrono::steady_clock::now();
}

bool FeedThread::sleepUntil(FeedClock::TimePoint due) {
    if (clock_.sleepUntil) {
        if (!stopping_) clock_.sleepUntil(due, stopping_);
        return !stopping_;
    }
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, due, [this] { return stopping_.load(); });
    return !stopping_;
}

void FeedThread::deliver(const QImage& picture) {
    if (!stopping_ && callbacks_.picture) callbacks_.picture(picture);
}

void FeedThread::end(const std::string& message) {
    std::lock_guard lock(mutex_);
    if (stopping_ || ended_) return;
    ended_ = true;
    if (callbacks_.ended) callbacks_.ended(message);
}

}  // namespace vantry::platform::wall
