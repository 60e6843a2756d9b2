// Placeholder mix until the voice filters and limiter are built: gains and mutes only.
#include "common/audio/ProgrammeMixer.h"

#include <algorithm>
#include <cmath>

namespace vantry::audio {

std::string_view mixSourceTitle(MixSource source) {
    switch (source) {
        case MixSource::mic:
            return "Mic/Aux";
        case MixSource::desktop:
            return "Desktop Audio";
        case MixSource::wallVideo:
            return "Wall Video";
    }
    return "";
}

struct ProgrammeMixer::State {
    mutable std::mutex lock;
    std::array<SourceSettings, kMixSourceCount> settings{};
    bool voiceFilters = true;
    std::array<Level, kMixSourceCount> levels{};
    Level mix;
};

ProgrammeMixer::ProgrammeMixer(std::unique_ptr<NoiseSuppressor>) : state_(std::make_unique<State>()) {
    state_->settings[int(MixSource::wallVideo)].muted = true;
}
ProgrammeMixer::~ProgrammeMixer() = default;

void ProgrammeMixer::setSettings(MixSource source, const SourceSettings& settings) {
    SourceSettings s = settings;
    s.gainDb = std::clamp(s.gainDb, kMinGainDb, kMaxGainDb);
    s.delayMs = std::clamp(s.delayMs, 0, kMaxDelayMs);
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->settings[int(source)] = s;
}

SourceSettings ProgrammeMixer::settings(MixSource source) const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->settings[int(source)];
}

void ProgrammeMixer::setVoiceFilters(bool on) {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->voiceFilters = on;
}

bool ProgrammeMixer::voiceFilters() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->voiceFilters;
}

void ProgrammeMixer::process(const std::array<StereoBlock, kMixSourceCount>& inputs, float* outLeft,
                             float* outRight) {
    std::array<SourceSettings, kMixSourceCount> settings;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        settings = state_->settings;
    }
    std::fill(outLeft, outLeft + kBlockFrames, 0.0f);
    std::fill(outRight, outRight + kBlockFrames, 0.0f);
    for (int s = 0; s < kMixSourceCount; ++s) {
        if (settings[s].muted) continue;
        const float gain = std::pow(10.0f, settings[s].gainDb / 20.0f);
        for (int i = 0; i < kBlockFrames; ++i) {
            if (inputs[s].left) outLeft[i] += gain * inputs[s].left[i];
            if (inputs[s].right) outRight[i] += gain * inputs[s].right[i];
        }
    }
    for (int i = 0; i < kBlockFrames; ++i) {
        outLeft[i] = std::clamp(outLeft[i], -1.0f, 1.0f);
        outRight[i] = std::clamp(outRight[i], -1.0f, 1.0f);
    }
}

Level ProgrammeMixer::level(MixSource source) const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->levels[int(source)];
}

Level ProgrammeMixer::mixLevel() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->mix;
}

int ProgrammeMixer::latencyFrames() const {
    return 0;
}

}  // namespace vantry::audio
