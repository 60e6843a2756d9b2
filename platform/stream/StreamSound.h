// The programme sound of a live stream: the blocks of a ProgrammeSound tap placed on the
// stream's clock by their stamps, so that the sound of a moment goes out beside its picture.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/audio-mix/StampedFifo.h"

namespace vantry::platform {

class StreamSound {
  public:
    // originUs: the wall-clock time (ProgrammeSound::nowUs) of the stream's sample 0.
    StreamSound(std::shared_ptr<ProgrammeSound> sound, std::int64_t originUs);
    // How far behind the pictures the sound is encoded: the blocks arrive up to kLatencyMs and a
    // block late, and the encoder asks for a frame slot ahead.
    static constexpr int kDelaySamples = audio::kSampleRate * (ProgrammeSound::kLatencyMs + 100) / 1000;
    // Fills `planes` (two planes of `count` floats) with the sound of the stream's samples from
    // `firstSample` on; silence where none arrived. False when all of it is silence.
    bool read(float* const planes[2], int count, std::int64_t firstSample);

  private:
    std::shared_ptr<ProgrammeSound> sound_;
    std::shared_ptr<ProgrammeSound::Tap> tap_;
    std::int64_t originUs_;
    StampedFifo fifo_{audio::kSampleRate};
};

}  // namespace vantry::platform
