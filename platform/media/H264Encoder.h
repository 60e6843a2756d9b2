// One H.264 encoder, software (libx264) or hardware (NVENC, VA-API), opened from a small settings
// record. Frames go in as yuv420p whatever the encoder, as the picture converter makes them
// (PictureConverter.h): the stream is tagged BT.709, limited range, square pixels. A VA-API
// encoder converts and uploads them itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/EncoderChoice.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vantry::platform::media {

struct H264Settings {
    int width = 0;  // even
    int height = 0;
    int fps = 30;
    std::int64_t bitRate = 0;         // average, also the cap of the rate control
    std::int64_t bufferBits = 0;      // rate-control buffer; 0: one second of bitRate
    int keyFrameInterval = 0;         // frames between key frames; 0: the encoder's default
    bool fixedKeyFrames = false;      // key frames only at keyFrameInterval, never at scene cuts
    bool closedGop = false;           // every key frame a clean entry point
    bool lowLatency = false;          // no B-frames, zero-latency tuning, constant rate (live)
    bool allThreads = false;          // as many encoder threads as the machine has cores
    std::string preset = "veryfast";  // x264's; hardware encoders use their own balanced preset
    bool globalHeader = false;        // SPS/PPS in the container header (MP4, FLV)
    H264Backend backend = H264Backend::x264;
};

class H264Encoder {
  public:
    // Throws MediaError ("cannot open the H.264 encoder (libx264, preset 'x')": ...).
    explicit H264Encoder(const H264Settings& settings);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    AVCodecContext* context() const;
    H264Backend backend() const;
    // One yuv420p frame at the encoder's size, pts in frames; nullptr flushes. FFmpeg's code.
    int send(const AVFrame* frame);
    // The next packet, as avcodec_receive_packet.
    int receive(AVPacket* packet);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The encoder for a choice on this machine, probed once per process (a test encode per hardware
// encoder). Throws MediaError when an explicitly chosen hardware encoder does not work here.
H264Backend pickH264(H264Choice choice);
// What this machine offers, for `vantry-cli doctor`: every hardware encoder and why it is not
// usable (empty problem: usable), and the one `auto` takes.
H264Decision surveyH264();

}  // namespace vantry::platform::media
