// Sound from one PulseAudio source (the microphone, the monitor of the default output) through
// FFmpeg's pulse input, handed over in pieces of stereo float samples at kSampleRate.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantry::platform::media {

// The sources the sound server offers (inputs and the monitors of outputs), through FFmpeg's
// pulse input: each name as PulseCapture opens it and its description. False (with `error`)
// when there is no server to ask.
struct PulseSourceInfo {
    std::string name;
    std::string description;
};
bool listPulseSources(std::vector<PulseSourceInfo>& sources, std::string& error);

class PulseCapture {
  public:
    struct Piece {
        const float* left = nullptr;
        const float* right = nullptr;
        int samples = 0;
        std::int64_t capturedAtUs = 0;  // wall clock (av_gettime) of its first sample
    };

    // Opens `source` ("default", "@DEFAULT_MONITOR@", a source name) in pieces of about
    // `pieceMs` milliseconds. Opening and reading give up as soon as `stop` is set. Throws
    // MediaError when there is no sound server, no such source or a format it cannot read.
    PulseCapture(const std::string& source, int pieceMs, const std::atomic<bool>& stop);
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // Waits for the next piece (valid until the next call); false at the end of the source,
    // with error() saying why (empty when stopped).
    bool read(Piece& piece);
    const std::string& error() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantry::platform::media
