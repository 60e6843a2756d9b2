// The AAC encoder (FFmpeg's own), stereo float planar at one sample rate, with the frame its
// callers fill: the sound of the live stream and of the screen recording.
#pragma once

#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vantry::platform::media {

inline constexpr int kSampleRate = 48000;

struct AacSettings {
    std::int64_t bitRate = 128'000;
    bool globalHeader = false;
};

class AacEncoder {
  public:
    // Throws MediaError ("the AAC encoder did not start: ...").
    explicit AacEncoder(const AacSettings& settings);
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    AVCodecContext* context() const { return codec_; }
    // Samples per channel the encoder takes per frame.
    int frameSize() const;
    // A writable frame of frameSize() samples, planes [0] left and [1] right; null when out of memory.
    AVFrame* frame();
    // Sends `frame()` holding `samples` samples at `pts` (in samples); FFmpeg's code.
    int sendFrame(int samples, std::int64_t pts);
    // `samples` of silence at `pts`.
    int sendSilence(int samples, std::int64_t pts);
    int flush();
    // The next packet, as avcodec_receive_packet.
    int receive(AVPacket* packet);

  private:
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
};

}  // namespace vantry::platform::media
