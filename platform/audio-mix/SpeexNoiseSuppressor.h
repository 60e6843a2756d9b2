// Noise suppression for the microphone through SpeexDSP's preprocessor (denoise only: no
// automatic gain, no dereverberation; voice detection stays at its default, off), one 10 ms
// frame per block.
#pragma once

#include <array>
#include <cstdint>

#include "common/audio/ProgrammeMixer.h"

struct SpeexPreprocessState_;

namespace vantry::platform {

class SpeexNoiseSuppressor final : public audio::NoiseSuppressor {
  public:
    // Steady noise is taken down by up to suppressDb (negative dB).
    explicit SpeexNoiseSuppressor(int suppressDb = kDefaultSuppressDb);
    ~SpeexNoiseSuppressor() override;
    SpeexNoiseSuppressor(const SpeexNoiseSuppressor&) = delete;
    SpeexNoiseSuppressor& operator=(const SpeexNoiseSuppressor&) = delete;

    static constexpr int kDefaultSuppressDb = -30;

    // Works on whole frames of kBlockFrames; samples after the last whole frame are left as
    // they are. The preprocessor works on 16-bit samples: the block is quantised on the way.
    void process(float* mono, int frames) override;
    // The preprocessor's overlap-add gives back each frame one frame later.
    int latencyFrames() const override { return audio::kBlockFrames; }

  private:
    SpeexPreprocessState_* state_;
    std::array<std::int16_t, audio::kBlockFrames> pcm_{};
};

}  // namespace vantry::platform
