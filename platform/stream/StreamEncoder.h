// The encoders of a live stream, run once for every destination: H.264 + AAC, or raw pictures
// for a v4l2 device. Each packet goes to a sink, which copies what it keeps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/AacEncoder.h"
#include "platform/media/H264Encoder.h"
#include "platform/media/MediaRuntime.h"
#include "platform/stream/LiveStream.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vantry::platform {

class StreamSound;

class StreamEncoder {
  public:
    using Sink = std::function<void(const AVPacket* packet, bool video)>;

    // raw: pictures as they are (a v4l2 device), no sound. globalHeader: SPS/PPS in the
    // container header, for outputs that want it. Throws LiveStreamError.
    StreamEncoder(const LiveStreamSettings& settings, bool raw, media::H264Backend backend,
                  bool globalHeader);
    ~StreamEncoder();
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // What the packets are, for the outputs' streams (fixed once made; any thread may read):
    // codec parameters and time base. No sound for raw pictures.
    const AVCodecContext* videoFormat() const { return videoFormat_; }
    const AVCodecContext* audioFormat() const { return audioFormat_; }

    // Frame slot `slot` of `yuv` (yuv420p at the stream's size); the reason when encoding failed.
    std::string sendVideo(AVFrame* yuv, std::int64_t slot, const Sink& sink);
    // Sound up to `untilSample`, whole encoder frames: the programme sound, or silence without one.
    std::string sendAudio(std::int64_t& samplesSent, std::int64_t untilSample, StreamSound* sound,
                          const Sink& sink);
    // What the encoders still hold.
    void finish(const Sink& sink);

  private:
    void drain(bool video, const Sink& sink);

    const LiveStreamSettings& settings_;
    std::unique_ptr<media::H264Encoder> video_;  // none for raw pictures
    std::unique_ptr<media::AacEncoder> audio_;   // none for raw pictures
    AVCodecContext* videoFormat_ = nullptr;
    AVCodecContext* audioFormat_ = nullptr;
    AVPacket* packet_ = nullptr;
};

}  // namespace vantry::platform
