// One connection of a live stream: the muxer with its output (FLV, MPEG-TS or a v4l2 device)
// and the encoders feeding it (H.264 + AAC; raw pictures for a v4l2 device).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/AacEncoder.h"
#include "platform/media/H264Encoder.h"
#include "platform/media/Muxer.h"
#include "platform/stream/LiveStream.h"
#include "platform/stream/StreamWatchdog.h"

struct AVFrame;
struct AVPacket;
struct AVStream;

namespace vantry::platform {

class StreamMicrophone;

class StreamConnection {
  public:
    // Opens a fresh connection (new headers, a key frame first) under the watchdog; null with
    // `error` set on failure.
    static std::unique_ptr<StreamConnection> open(const LiveStreamSettings& settings,
                                                  const LiveStreamTarget& target, media::H264Backend backend,
                                                  StreamWatchdog& watchdog, std::string& error);
    ~StreamConnection();

    // Frame slot `slot` of `yuv` (yuv420p at the stream's size); the reason when output failed.
    std::string sendVideo(AVFrame* yuv, std::int64_t slot);
    // Sound up to `untilSample`, whole encoder frames, microphone or silence.
    std::string sendAudio(std::int64_t& samplesSent, std::int64_t untilSample, StreamMicrophone* microphone);
    // Sends what the encoders hold and the trailer; true when the trailer went out.
    bool finish();
    // Bytes written out so far (for a device without its own output: handed to the muxer).
    std::int64_t bytesOut() const;

  private:
    StreamConnection(const LiveStreamSettings& settings, StreamWatchdog& watchdog);
    std::string openEncoders(const std::string& kind, media::H264Backend backend);
    std::string drain(bool video);

    const LiveStreamSettings& settings_;
    StreamWatchdog& watchdog_;
    std::unique_ptr<media::Muxer> muxer_;
    std::unique_ptr<media::H264Encoder> video_;  // none for v4l2
    std::unique_ptr<media::AacEncoder> audio_;   // none for v4l2
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<std::uint8_t> raw_;  // v4l2: one packed yuv420p picture
    bool headerWritten_ = false;
    std::int64_t rawBytes_ = 0;
};

}  // namespace vantry::platform
