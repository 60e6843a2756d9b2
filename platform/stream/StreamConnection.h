// One connection of a live stream destination: the muxer with its output (FLV, MPEG-TS or a
// v4l2 device), fed the packets the stream's one encoder made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/Muxer.h"
#include "platform/stream/LiveStream.h"
#include "platform/stream/StreamWatchdog.h"

struct AVCodecContext;
struct AVPacket;
struct AVStream;

namespace vantry::platform {

class StreamConnection {
  public:
    // Opens a fresh connection (new headers) under the watchdog for packets described by
    // `video` and `audio` (null: no sound); null with `error` set on failure, and `lasting` set
    // for a failure that trying again cannot mend (no such output, a refused SRT passphrase).
    static std::unique_ptr<StreamConnection> open(const LiveStreamSettings& settings,
                                                  const LiveStreamTarget& target, const AVCodecContext* video,
                                                  const AVCodecContext* audio, StreamWatchdog& watchdog,
                                                  std::string& error, bool& lasting);
    ~StreamConnection();

    // One packet (in its format's time base; its reference is taken over); the reason when
    // output failed.
    std::string write(AVPacket* packet, bool video);
    // The trailer; true when it went out.
    bool finish();
    // Bytes written out so far (for a device without its own output: handed to the muxer).
    std::int64_t bytesOut() const;

  private:
    StreamConnection(StreamWatchdog& watchdog) : watchdog_(watchdog) {}

    StreamWatchdog& watchdog_;
    std::unique_ptr<media::Muxer> muxer_;
    const AVCodecContext* videoFormat_ = nullptr;
    const AVCodecContext* audioFormat_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    bool headerWritten_ = false;
    std::int64_t handedBytes_ = 0;
};

}  // namespace vantry::platform
