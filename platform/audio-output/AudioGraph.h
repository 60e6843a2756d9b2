// A small audio output graph: one looping player node into an engine's main mixer.
// The interface is free of Qt so callers can be tested against a fake; QtAudioBackend.h plays it through
// Qt Multimedia.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace vantry::platform {

class AudioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Non-interleaved 32-bit float PCM.
struct PcmFormat {
    double sampleRate = 0;
    int channelCount = 0;
    friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};

struct PcmBuffer {
    PcmFormat format;
    std::uint32_t frameCapacity = 0;
    std::uint32_t frameLength = 0;
    std::vector<std::vector<float>> channels;  // channelCount arrays of frameCapacity samples
};

class AudioPlayerNode {
  public:
    virtual ~AudioPlayerNode() = default;
    // Drops whatever was scheduled.
    virtual void stop() = 0;
    // Plays buffer from its start, over and over, once play() is called.
    virtual void scheduleLooping(std::shared_ptr<const PcmBuffer> buffer) = 0;
    virtual void setVolume(float volume) = 0;
    virtual void play() = 0;
    // Queues buffer to play once, after everything queued before it. Buffers queue up in the format the
    // node was connected with; a buffer in any other format, or an empty one, is dropped. Without a
    // looping buffer, play() plays the queue (silence while it is empty); stop() empties it.
    virtual void scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer) { (void)buffer; }
};

// One block of captured input: frames of 32-bit float samples per channel, non-interleaved.
// The pointers stay valid only during the call.
struct CapturedAudio {
    const float* const* channels = nullptr;
    int channelCount = 0;
    std::uint32_t frameLength = 0;
    double sampleRate = 0;
};

// Called on the capture thread for every captured block; it must not block.
using InputTapBlock = std::function<void(const CapturedAudio&)>;

class AudioEngine {
  public:
    virtual ~AudioEngine() = default;
    virtual void attach(const std::shared_ptr<AudioPlayerNode>& node) = 0;
    virtual void connectToMainMixer(const std::shared_ptr<AudioPlayerNode>& node,
                                    const PcmFormat& format) = 0;
    // Throws AudioError when the output cannot start (no device, for one).
    virtual void start() = 0;
    // Stops output and input; start() may follow.
    virtual void stop() {}
    // The default input's format; none when there is no input device.
    virtual std::optional<PcmFormat> inputFormat() { return std::nullopt; }
    // Delivers input in blocks of about bufferSize frames to block, from start() until removeInputTap()
    // or stop(). One tap at a time; installing another replaces it. An input that cannot open captures
    // nothing and fails nothing.
    virtual void installInputTap(std::uint32_t bufferSize, const PcmFormat& format, InputTapBlock block) {
        (void)bufferSize, (void)format, (void)block;
    }
    virtual void removeInputTap() {}
};

class AudioBackend {
  public:
    virtual ~AudioBackend() = default;
    // The standard float format for a rate and channel count; none when the values make no format.
    virtual std::optional<PcmFormat> standardFormat(double sampleRate, int channelCount) = 0;
    // A zeroed buffer; none when the capacity is 0 or beyond 32 bits, or the format is unusable.
    virtual std::shared_ptr<PcmBuffer> makeBuffer(const PcmFormat& format, std::uint64_t frameCapacity) = 0;
    virtual std::shared_ptr<AudioEngine> makeEngine() = 0;
    virtual std::shared_ptr<AudioPlayerNode> makePlayerNode() = 0;
};

// The format and buffer rules every backend shares.
std::optional<PcmFormat> makeStandardPcmFormat(double sampleRate, int channelCount);
std::shared_ptr<PcmBuffer> makePcmBuffer(const PcmFormat& format, std::uint64_t frameCapacity);

}  // namespace vantry::platform
