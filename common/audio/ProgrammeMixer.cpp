#include "common/audio/ProgrammeMixer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/audio/Compressor.h"
#include "common/audio/Decibels.h"
#include "common/audio/DelayLine.h"
#include "common/audio/Limiter.h"
#include "common/audio/NoiseGate.h"

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

namespace {

constexpr int kFramesPerMs = kSampleRate / 1000;
constexpr int kStereoSources = kMixSourceCount - 1;  // desktop and wall video

// Settings in one word, so they cross threads whole: gain bits, delay, mute.
std::uint64_t pack(const SourceSettings& s) {
    return std::uint64_t{std::bit_cast<std::uint32_t>(s.gainDb)} |
           (std::uint64_t{static_cast<std::uint16_t>(s.delayMs)} << 32) | (std::uint64_t{s.muted} << 48);
}

SourceSettings unpack(std::uint64_t word) {
    SourceSettings s;
    s.gainDb = std::bit_cast<float>(static_cast<std::uint32_t>(word));
    s.delayMs = static_cast<int>((word >> 32) & 0xffff);
    s.muted = ((word >> 48) & 1) != 0;
    return s;
}

std::uint64_t pack(const Level& level) {
    return std::uint64_t{std::bit_cast<std::uint32_t>(level.peakDb)} |
           (std::uint64_t{std::bit_cast<std::uint32_t>(level.rmsDb)} << 32);
}

Level unpackLevel(std::uint64_t word) {
    return {std::bit_cast<float>(static_cast<std::uint32_t>(word)),
            std::bit_cast<float>(static_cast<std::uint32_t>(word >> 32))};
}

Level measure(const float* left, const float* right, int frames) {
    float peak = 0.0f;
    double squares = 0.0;
    for (int i = 0; i < frames; ++i) {
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
        squares += double{left[i]} * left[i] + double{right[i]} * right[i];
    }
    const auto rms = static_cast<float>(std::sqrt(squares / (2.0 * frames)));
    return {gainToDb(peak, kSilenceDb), gainToDb(rms, kSilenceDb)};
}

// Multiplies by a gain that glides linearly from current to target over the block and ends
// exactly on target.
void applyGain(float* samples, int frames, float& current, float target) {
    if (current == target) {
        if (target != 1.0f)
            for (int i = 0; i < frames; ++i) samples[i] *= target;
        return;
    }
    const float step = (target - current) / static_cast<float>(frames);
    for (int i = 0; i + 1 < frames; ++i) samples[i] *= current + step * static_cast<float>(i + 1);
    samples[frames - 1] *= target;
    current = target;
}

float targetGain(const SourceSettings& s) {
    return s.muted ? 0.0f : dbToGain(s.gainDb);
}

}  // namespace

struct ProgrammeMixer::State {
    explicit State(std::unique_ptr<NoiseSuppressor> noise)
        : suppressor(std::move(noise)),
          suppressorLatency(suppressor ? std::max(suppressor->latencyFrames(), 0) : 0),
          gate(kSampleRate),
          compressor(kSampleRate),
          limiter(kSampleRate),
          micDry(suppressorLatency, kBlockFrames),
          micDelay(kMaxDelayMs * kFramesPerMs, kBlockFrames),
          delays{DelayLine(kMaxDelayMs * kFramesPerMs + suppressorLatency, kBlockFrames),
                 DelayLine(kMaxDelayMs * kFramesPerMs + suppressorLatency, kBlockFrames),
                 DelayLine(kMaxDelayMs * kFramesPerMs + suppressorLatency, kBlockFrames),
                 DelayLine(kMaxDelayMs * kFramesPerMs + suppressorLatency, kBlockFrames)} {}

    void processMic(const StereoBlock& in, const SourceSettings& s, float* outLeft, float* outRight);
    void processStereo(int source, const StereoBlock& in, const SourceSettings& s, float* outLeft,
                       float* outRight);

    std::array<std::atomic<std::uint64_t>, kMixSourceCount> settings{};
    std::atomic<bool> voiceFilters{true};
    std::array<std::atomic<std::uint64_t>, kMixSourceCount> levels{};
    std::atomic<std::uint64_t> mixLevel{pack(Level{})};

    // Audio thread only.
    std::unique_ptr<NoiseSuppressor> suppressor;
    int suppressorLatency;
    NoiseGate gate;
    Compressor compressor;
    Limiter limiter;
    DelayLine micDry;                                  // the raw voice, as late as the filtered one
    DelayLine micDelay;                                // the microphone's own delay
    std::array<DelayLine, 2 * kStereoSources> delays;  // left and right of desktop, wall video
    std::array<float, kMixSourceCount> gains{};
    bool primed = false;
    float wet = 1.0f;  // 1: filtered voice, 0: raw voice
    std::array<float, kBlockFrames> mono{}, dry{}, filtered{}, left{}, right{};
};

void ProgrammeMixer::State::processMic(const StereoBlock& in, const SourceSettings& s, float* outLeft,
                                       float* outRight) {
    const int n = kBlockFrames;
    if (in.left && in.right) {
        for (int i = 0; i < n; ++i) mono[i] = (in.left[i] + in.right[i]) * 0.5f;
    } else if (in.left || in.right) {
        std::memcpy(mono.data(), in.left ? in.left : in.right, sizeof(float) * n);
    } else {
        mono.fill(0.0f);
    }
    micDry.process(mono.data(), dry.data(), n, suppressorLatency);
    filtered = mono;
    if (suppressor) suppressor->process(filtered.data(), n);
    gate.process(filtered.data(), n);
    compressor.process(filtered.data(), n);

    const float wanted = voiceFilters.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    const float* voice = wanted == 1.0f ? filtered.data() : dry.data();
    if (wet != wanted) {
        const float step = (wanted - wet) / static_cast<float>(n);
        for (int i = 0; i < n; ++i) {
            const float w = wet + step * static_cast<float>(i + 1);
            left[i] = dry[i] + w * (filtered[i] - dry[i]);
        }
        wet = wanted;
        voice = left.data();
    }
    micDelay.process(voice, right.data(), n, s.delayMs * kFramesPerMs);
    applyGain(right.data(), n, gains[0], targetGain(s));
    const Level level = measure(right.data(), right.data(), n);
    levels[0].store(pack(level), std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
        outLeft[i] += right[i];
        outRight[i] += right[i];
    }
}

void ProgrammeMixer::State::processStereo(int source, const StereoBlock& in, const SourceSettings& s,
                                          float* outLeft, float* outRight) {
    const int n = kBlockFrames;
    const int delay = s.delayMs * kFramesPerMs + suppressorLatency;
    DelayLine& delayLeft = delays[2 * (source - 1)];
    DelayLine& delayRight = delays[2 * (source - 1) + 1];
    delayLeft.process(in.left, left.data(), n, delay);
    delayRight.process(in.right, right.data(), n, delay);
    const float target = targetGain(s);
    if (gains[source] == 0.0f && target == 0.0f) {
        levels[source].store(pack(Level{}), std::memory_order_relaxed);
        return;
    }
    float gain = gains[source];
    applyGain(left.data(), n, gain, target);
    applyGain(right.data(), n, gains[source], target);
    levels[source].store(pack(measure(left.data(), right.data(), n)), std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
        outLeft[i] += left[i];
        outRight[i] += right[i];
    }
}

ProgrammeMixer::ProgrammeMixer(std::unique_ptr<NoiseSuppressor> suppressor)
    : state_(std::make_unique<State>(std::move(suppressor))) {
    for (auto& level : state_->levels) level.store(pack(Level{}));
    for (auto& s : state_->settings) s.store(pack(SourceSettings{}));
    SourceSettings wall;
    wall.muted = true;
    state_->settings[int(MixSource::wallVideo)].store(pack(wall));
}

ProgrammeMixer::~ProgrammeMixer() = default;

void ProgrammeMixer::setSettings(MixSource source, const SourceSettings& settings) {
    SourceSettings s = settings;
    s.gainDb = std::isnan(s.gainDb) ? 0.0f : std::clamp(s.gainDb, kMinGainDb, kMaxGainDb);
    s.delayMs = std::clamp(s.delayMs, 0, kMaxDelayMs);
    state_->settings[int(source)].store(pack(s), std::memory_order_relaxed);
}

SourceSettings ProgrammeMixer::settings(MixSource source) const {
    return unpack(state_->settings[int(source)].load(std::memory_order_relaxed));
}

void ProgrammeMixer::setVoiceFilters(bool on) {
    state_->voiceFilters.store(on, std::memory_order_relaxed);
}

bool ProgrammeMixer::voiceFilters() const {
    return state_->voiceFilters.load(std::memory_order_relaxed);
}

void ProgrammeMixer::process(const std::array<StereoBlock, kMixSourceCount>& inputs, float* outLeft,
                             float* outRight) {
    State& st = *state_;
    std::array<SourceSettings, kMixSourceCount> settings;
    for (int s = 0; s < kMixSourceCount; ++s)
        settings[s] = unpack(st.settings[s].load(std::memory_order_relaxed));
    if (!st.primed) {
        // The first block starts at the settings' gains and delays instead of gliding to them.
        for (int s = 0; s < kMixSourceCount; ++s) st.gains[s] = targetGain(settings[s]);
        st.micDry.jumpTo(st.suppressorLatency);
        st.micDelay.jumpTo(settings[0].delayMs * kFramesPerMs);
        for (int s = 1; s < kMixSourceCount; ++s) {
            st.delays[2 * (s - 1)].jumpTo(settings[s].delayMs * kFramesPerMs + st.suppressorLatency);
            st.delays[2 * (s - 1) + 1].jumpTo(settings[s].delayMs * kFramesPerMs + st.suppressorLatency);
        }
        st.wet = st.voiceFilters.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
        st.primed = true;
    }
    std::fill(outLeft, outLeft + kBlockFrames, 0.0f);
    std::fill(outRight, outRight + kBlockFrames, 0.0f);
    st.processMic(inputs[0], settings[0], outLeft, outRight);
    for (int s = 1; s < kMixSourceCount; ++s) st.processStereo(s, inputs[s], settings[s], outLeft, outRight);
    st.limiter.process(outLeft, outRight, kBlockFrames);
    st.mixLevel.store(pack(measure(outLeft, outRight, kBlockFrames)), std::memory_order_relaxed);
}

Level ProgrammeMixer::level(MixSource source) const {
    return unpackLevel(state_->levels[int(source)].load(std::memory_order_relaxed));
}

Level ProgrammeMixer::mixLevel() const {
    return unpackLevel(state_->mixLevel.load(std::memory_order_relaxed));
}

int ProgrammeMixer::latencyFrames() const {
    return state_->suppressorLatency + state_->limiter.latencyFrames();
}

}  // namespace vantry::audio
