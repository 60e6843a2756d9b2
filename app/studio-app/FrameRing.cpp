#include "app/studio-app/FrameRing.h"

#include <utility>

namespace vantry::app {

FrameRing::Writable FrameRing::beginWrite() {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[writing_];
    return {writing_, {std::exchange(slot.releasedFence, nullptr), std::exchange(slot.readyFence, nullptr)}};
}

void FrameRing::publish(void* readyFence) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[writing_];
    slot.frame = ++published_;
    slot.readyFence = readyFence;
    const int previous = newest_;
    newest_ = writing_;
    // The next frame goes into a slot that is neither the newest nor shown: the
    // previous newest one when the consumer skipped it, otherwise the third slot.
    if (previous >= 0 && previous != shown_) {
        writing_ = previous;
        return;
    }
    for (int i = 0; i < kSlots; ++i) {
        if (i != newest_ && i != shown_) {
            writing_ = i;
            return;
        }
    }
}

std::optional<FrameRing::Taken> FrameRing::takeNewest(void* releasedFence) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (newest_ < 0 || newest_ == shown_) return std::nullopt;
    if (shown_ >= 0) slots_[shown_].releasedFence = releasedFence;
    shown_ = newest_;
    Slot& slot = slots_[shown_];
    return Taken{shown_, slot.frame, std::exchange(slot.readyFence, nullptr)};
}

bool FrameRing::hasNewer() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return newest_ >= 0 && newest_ != shown_;
}

int FrameRing::shownSlot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
}

std::uint64_t FrameRing::publishedFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
}

std::array<void*, 2 * FrameRing::kSlots> FrameRing::drainFences() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::array<void*, 2 * kSlots> fences{};
    for (int i = 0; i < kSlots; ++i) {
        fences[2 * i] = std::exchange(slots_[i].readyFence, nullptr);
        fences[2 * i + 1] = std::exchange(slots_[i].releasedFence, nullptr);
    }
    return fences;
}

}  // namespace vantry::app
