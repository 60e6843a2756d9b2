// The thread a wall feed runs on: its stop flag, the wait between pictures that a stop cuts
// short, and the callbacks, with `ended` told at most once and never once stopping began.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {

class FeedThread {
  public:
    FeedThread(FeedCallbacks callbacks, FeedClock clock);
    // Stops first where stop() was not called.
    ~FeedThread();
    FeedThread(const FeedThread&) = delete;
    FeedThread& operator=(const FeedThread&) = delete;

    // Runs `body` on the feed's thread.
    void start(std::function<void()> body);
    // Sets the stop flag, wakes a wait, calls `onStop` (to cut a blocking read short) and joins.
    // No callback runs once it returns.
    void stop(const std::function<void()>& onStop = {});

    bool stopping() const { return stopping_.load(); }
    const std::atomic<bool>& stopFlag() const { return stopping_; }
    FeedClock::TimePoint now() const;
    // Waits until `due`; false when the feed is stopping.
    bool sleepUntil(FeedClock::TimePoint due);

    void deliver(const QImage& picture);
    // Tells `ended` once, unless the feed is stopping.
    void end(const std::string& message);

  private:
    FeedCallbacks callbacks_;
    FeedClock clock_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace vantry::platform::wall
