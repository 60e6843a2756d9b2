#include "platform/stream/StreamSound.h"

namespace vantry::platform {

StreamSound::StreamSound(std::shared_ptr<ProgrammeSound> sound, std::int64_t originUs)
    : sound_(std::move(sound)), tap_(sound_->tap()), originUs_(originUs) {}

bool StreamSound::read(float* const planes[2], int count, std::int64_t firstSample) {
    ProgrammeSound::Block block;
    while (tap_->tryPop(block))
        fifo_.write(block.left.data(), block.right.data(), audio::kBlockFrames, block.stampUs);
    const std::int64_t at = originUs_ + firstSample * 1'000'000 / audio::kSampleRate;
    return fifo_.take(planes[0], planes[1], count, at) > 0;
}

}  // namespace vantry::platform
