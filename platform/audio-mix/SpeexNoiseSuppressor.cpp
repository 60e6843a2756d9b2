#include "platform/audio-mix/SpeexNoiseSuppressor.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>

namespace vantry::platform {

SpeexNoiseSuppressor::SpeexNoiseSuppressor(int suppressDb)
    : state_(speex_preprocess_state_init(audio::kBlockFrames, audio::kSampleRate)) {
    spx_int32_t on = 1;
    spx_int32_t off = 0;
    spx_int32_t suppress = std::min(suppressDb, 0);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DENOISE, &on);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &suppress);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_AGC, &off);
    speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DEREVERB, &off);
}

SpeexNoiseSuppressor::~SpeexNoiseSuppressor() {
    speex_preprocess_state_destroy(state_);
}

void SpeexNoiseSuppressor::process(float* mono, int frames) {
    constexpr int n = audio::kBlockFrames;
    for (int start = 0; start + n <= frames; start += n) {
        float* block = mono + start;
        for (int i = 0; i < n; ++i)
            pcm_[i] =
                static_cast<std::int16_t>(std::lrint(std::clamp(block[i] * 32768.0f, -32768.0f, 32767.0f)));
        speex_preprocess_run(state_, pcm_.data());
        for (int i = 0; i < n; ++i) block[i] = static_cast<float>(pcm_[i]) / 32768.0f;
    }
}

}  // namespace vantry::platform
