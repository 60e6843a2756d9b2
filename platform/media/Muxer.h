// One output container (MP4, FLV, MPEG-TS, a v4l2 device) with its streams and its output.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVIOInterruptCB;
struct AVPacket;
struct AVStream;

namespace vantry::platform::media {

using MediaOptions = std::vector<std::pair<std::string, std::string>>;

class Muxer {
  public:
    // Throws MediaError ("cannot create the mp4 muxer: ...").
    Muxer(const std::string& format, const std::string& url);
    // Closes the output without a trailer.
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    AVFormatContext* context() const { return format_; }
    // The encoders must put SPS/PPS and the like into the container header.
    bool wantsGlobalHeader() const;
    // A stream carrying what `encoder` produces, in its time base. Throws MediaError.
    AVStream* addStream(const AVCodecContext* encoder);
    // Opens the output for writing (nothing for a format without a file); FFmpeg's code.
    int openOutput(const MediaOptions& options = {}, const AVIOInterruptCB* interrupt = nullptr);
    int writeHeader(const MediaOptions& options = {});
    // A packet of `encoder` for `stream`: time stamps rescaled, then written interleaved.
    int write(AVPacket* packet, const AVCodecContext* encoder, AVStream* stream);
    // The trailer; FFmpeg's code.
    int writeTrailer();
    // Flushes and closes the output; FFmpeg's code.
    int closeOutput();
    // Bytes written to the output so far.
    std::int64_t bytesOut() const;

  private:
    AVFormatContext* format_ = nullptr;
};

// Every packet `encoder` has ready, each handed to `write` (which returns FFmpeg's code); the
// first failure of `write`, else 0.
template <class Encoder, class Write>
int drainPackets(Encoder& encoder, AVPacket* packet, Write&& write) {
    while (encoder.receive(packet) == 0) {
        const int rc = write(packet);
        if (rc < 0) return rc;
    }
    return 0;
}

}  // namespace vantry::platform::media
