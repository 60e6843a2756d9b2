#include "platform/audio-mix/StampedFifo.h"

#include <algorithm>
#include <cstdlib>

namespace vantry::platform {

StampedFifo::StampedFifo(int capacity, int sampleRate)
    : rate_(sampleRate), left_(std::size_t(std::max(capacity, 1))), right_(left_.size()) {}

std::int64_t StampedFifo::framesToUs(std::int64_t frames) const {
    return frames * 1'000'000 / rate_;
}

std::int64_t StampedFifo::headUs() const {
    return anchorUs_ + framesToUs(consumed_);
}

void StampedFifo::clear() {
    head_ = size_ = 0;
    consumed_ = 0;
}

void StampedFifo::drop(int frames) {
    frames = std::min(frames, size_);
    head_ = (head_ + frames) % int(left_.size());
    size_ -= frames;
    consumed_ += frames;
}

void StampedFifo::write(const float* left, const float* right, int frames, std::int64_t stampUs) {
    if (frames <= 0) return;
    if (size_ > 0) {
        const std::int64_t expected = headUs() + framesToUs(size_);
        const std::int64_t error = stampUs - expected;
        if (std::llabs(error) > kGapUs) {
            clear();
        } else {
            // A piece that follows on: the held sound's time leans slowly toward the pieces' own
            // stamps (a stray first stamp is forgotten), never jumping.
            anchorUs_ += error / 32;
        }
    }
    if (size_ == 0) {
        anchorUs_ = stampUs;
        consumed_ = 0;
        aligning_ = true;
    }
    const int capacity = int(left_.size());
    if (frames > capacity) {  // only the newest part fits
        const int skip = frames - capacity;
        left += skip;
        right += skip;
        stampUs += framesToUs(skip);
        frames = capacity;
        clear();
        anchorUs_ = stampUs;
        aligning_ = true;
    }
    if (size_ + frames > capacity) drop(size_ + frames - capacity);
    for (int i = 0; i < frames; ++i) {
        const int at = (head_ + size_ + i) % capacity;
        left_[std::size_t(at)] = left ? left[i] : 0.0f;
        right_[std::size_t(at)] = right ? right[i] : 0.0f;
    }
    size_ += frames;
}

int StampedFifo::take(float* left, float* right, int frames, std::int64_t atUs) {
    int silence = 0;
    if (size_ > 0) {
        const std::int64_t offsetUs = atUs - headUs();
        // Sound that has just started (or strayed beyond the tolerance) is put exactly in place:
        // older sound dropped, or silence until it starts. Once in place it runs on unbroken.
        if (aligning_ || std::llabs(offsetUs) > kToleranceUs) {
            if (offsetUs > 0)
                drop(int(offsetUs * rate_ / 1'000'000));
            else
                silence = int(std::min<std::int64_t>(-offsetUs * rate_ / 1'000'000, frames));
            aligning_ = size_ == 0 || silence == frames;
        }
    } else {
        silence = frames;
    }
    std::fill(left, left + silence, 0.0f);
    std::fill(right, right + silence, 0.0f);
    const int real = std::min(frames - silence, size_);
    const int capacity = int(left_.size());
    for (int i = 0; i < real; ++i) {
        const int at = (head_ + i) % capacity;
        left[silence + i] = left_[std::size_t(at)];
        right[silence + i] = right_[std::size_t(at)];
    }
    drop(real);
    std::fill(left + silence + real, left + frames, 0.0f);
    std::fill(right + silence + real, right + frames, 0.0f);
    return real;
}

}  // namespace vantry::platform
