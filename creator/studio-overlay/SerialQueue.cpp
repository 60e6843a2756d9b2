#include "creator/studio-overlay/SerialQueue.h"

#include <pthread.h>

namespace vantry::creator {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    // Thread names are limited to 15 characters: keep the label's end.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(queue_.nativeHandle(), name.c_str());
}

SerialQueue::~SerialQueue() = default;

void SerialQueue::async(std::function<void()> task) {
    queue_.post(std::move(task));
}

void SerialQueue::shutdown() {
    queue_.shutdown();
}

}  // namespace vantry::creator
