// The programme mix every output carries: the microphone (through the voice filters), the
// desktop's sound and the wall video's sound, each with its gain, mute and delay, summed and
// held under the limiter's ceiling. Works in blocks of kBlockFrames at kSampleRate, planar
// stereo float (full scale +-1). Standard C++ only.
//
// The microphone is one voice: its two channels are averaged (a null channel leaves the other
// alone) and the mono result goes to both sides of the mix, with the voice filters on or off.
// The voice filters are, in this order, noise suppression (when a suppressor is given), the
// noise gate and the compressor (NoiseGate.h, Compressor.h); they always run, so switching
// them crossfades over one block between the filtered and the raw (equally delayed) voice.
// Off, the microphone reaches the mix as it came in, bit for bit apart from its gain.
// Each source then goes through its delay line and its gain (mute is a gain of 0); a change of
// gain, mute or delay glides over one block. The sum goes through the limiter (Limiter.h).
// Levels are metered where a source enters the sum and after the limiter.
// process() takes no lock and allocates nothing: settings and levels cross threads as atomics.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string_view>

namespace vantry::audio {

inline constexpr int kSampleRate = 48000;
inline constexpr int kBlockFrames = 480;  // 10 ms

enum class MixSource { mic, desktop, wallVideo };
inline constexpr int kMixSourceCount = 3;

// "Mic/Aux", "Desktop Audio", "Wall Video".
std::string_view mixSourceTitle(MixSource source);

inline constexpr float kMinGainDb = -30.0f;
inline constexpr float kMaxGainDb = 20.0f;
inline constexpr int kMaxDelayMs = 500;

struct SourceSettings {
    bool muted = false;
    float gainDb = 0.0f;  // kMinGainDb..kMaxGainDb
    int delayMs = 0;      // 0..kMaxDelayMs
    friend bool operator==(const SourceSettings&, const SourceSettings&) = default;
};

// Peak and RMS of one block in dBFS; kSilenceDb where there is no signal.
inline constexpr float kSilenceDb = -120.0f;
struct Level {
    float peakDb = kSilenceDb;
    float rmsDb = kSilenceDb;
};

// Takes steady noise out of the microphone, one mono block of kBlockFrames at a time (the
// application gives SpeexDSP's preprocessor).
class NoiseSuppressor {
  public:
    virtual ~NoiseSuppressor() = default;
    virtual void process(float* mono, int frames) = 0;
    // Frames by which the processed sound lags its input.
    virtual int latencyFrames() const { return 0; }
};

// One source's block: kBlockFrames samples per channel; null channels are silence.
struct StereoBlock {
    const float* left = nullptr;
    const float* right = nullptr;
};

class ProgrammeMixer {
  public:
    // suppressor: null leaves noise suppression out of the voice filters.
    explicit ProgrammeMixer(std::unique_ptr<NoiseSuppressor> suppressor = nullptr);
    ~ProgrammeMixer();
    ProgrammeMixer(const ProgrammeMixer&) = delete;
    ProgrammeMixer& operator=(const ProgrammeMixer&) = delete;

    // Settings and levels may be used from any thread while process() runs on another.
    // Out-of-range gains and delays are clamped.
    void setSettings(MixSource source, const SourceSettings& settings);
    SourceSettings settings(MixSource source) const;
    // "Voice Filters" on the microphone (on by default).
    void setVoiceFilters(bool on);
    bool voiceFilters() const;

    // Mixes one block: each source's input in MixSource order, the mix into outLeft/outRight
    // (kBlockFrames each).
    void process(const std::array<StereoBlock, kMixSourceCount>& inputs, float* outLeft, float* outRight);

    // Levels of the last block: each source after its filters, gain and mute; the mix after
    // the limiter.
    Level level(MixSource source) const;
    Level mixLevel() const;

    // Frames of delay the chain adds to every source beyond the sources' own delays: the noise
    // suppressor's latency and the limiter's look-ahead (at most 20 ms).
    int latencyFrames() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantry::audio
