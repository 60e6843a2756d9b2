#include "platform/dispatch/MainThreadDispatcher.h"

#include <deque>
#include <mutex>
#include <utility>

namespace vantry::platform {
namespace {

std::mutex& lock() {
    static std::mutex m;
    return m;
}
MainPoster& poster() {
    static MainPoster p;
    return p;
}
std::deque<MainTask>& pending() {
    static std::deque<MainTask> q;
    return q;
}

}  // namespace

void postToMain(MainTask task) {
    MainPoster p;
    {
        std::lock_guard<std::mutex> guard(lock());
        if (!poster()) {
            pending().push_back(std::move(task));
            return;
        }
        p = poster();
    }
    p(std::move(task));
}

void setMainPoster(MainPoster p) {
    std::lock_guard<std::mutex> guard(lock());
    poster() = std::move(p);
}

std::size_t drainMainQueue() {
    std::deque<MainTask> tasks;
    {
        std::lock_guard<std::mutex> guard(lock());
        tasks.swap(pending());
    }
    for (auto& t : tasks) t();
    return tasks.size();
}

}  // namespace vantry::platform
