#include "platform/stream/StreamConnection.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cctype>

namespace vantry::platform {
namespace {

// How long SRT waits for a server's answer to its handshake.
constexpr std::int64_t kSrtConnectTimeoutUs = 4'000'000;

// Whether an SRT address sets a passphrase.
bool hasPassphrase(const std::string& address) {
    std::string lowered(address);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char ch) { return char(std::tolower(ch)); });
    const std::size_t q = lowered.find('?');
    if (q == std::string::npos) return false;
    const std::string query = "&" + lowered.substr(q + 1);
    return query.find("&passphrase=") != std::string::npos;
}

}  // namespace

StreamConnection::~StreamConnection() {
    muxer_.reset();
}

std::int64_t StreamConnection::bytesOut() const {
    if (muxer_ && muxer_->context()->pb) return muxer_->bytesOut();
    return handedBytes_;
}

std::unique_ptr<StreamConnection> StreamConnection::open(
    const LiveStreamSettings& settings, const LiveStreamTarget& target, const AVCodecContext* video,
    const AVCodecContext* audio, StreamWatchdog& watchdog, std::string& error, bool& lasting) {
    lasting = false;
    std::unique_ptr<StreamConnection> c(new StreamConnection(watchdog));
    const char* format = target.kind == "srt" ? "mpegts" : target.kind == "v4l2" ? "video4linux2" : "flv";
    try {
        c->muxer_ = std::make_unique<media::Muxer>(format, target.address);
    } catch (const media::MediaError&) {
        error = "FFmpeg has no " + std::string(format) + " output";
        lasting = true;
        return nullptr;
    }
    AVFormatContext* muxer = c->muxer_->context();
    muxer->interrupt_callback = watchdog.callback();
    try {
        c->videoFormat_ = video;
        c->videoStream_ = c->muxer_->addStream(video);
        if (audio) {
            c->audioFormat_ = audio;
            c->audioStream_ = c->muxer_->addStream(audio);
        }
    } catch (const media::MediaError& e) {
        error = e.what();
        lasting = true;
        return nullptr;
    }

    watchdog.connectingNow = true;
    media::MediaOptions options;
    if (target.kind == "srt") {
        if (!target.srtStreamId.empty()) options.emplace_back("streamid", target.srtStreamId);
        options.emplace_back("connect_timeout", std::to_string(kSrtConnectTimeoutUs / 1000));
        // Closing waits (briefly) for the server to take what is still queued.
        options.emplace_back("linger", "1");
    } else {
        options.emplace_back("tcp_nodelay", "1");
        // What the system queues unsent is what the server has not taken: keep it to
        // about half a second, so that the rate and a stall show the server's side.
        const std::int64_t halfSecond = (settings.videoBitRate + settings.audioBitRate) / 16;
        options.emplace_back("send_buffer_size",
                             std::to_string(std::max<std::int64_t>(halfSecond, 64 * 1024)));
    }
    const std::int64_t connectStartUs = av_gettime_relative();
    int rc = watchdog.guarded(kConnectLimitUs,
                              [&] { return c->muxer_->openOutput(options, &muxer->interrupt_callback); });
    if (rc < 0) {
        watchdog.connectingNow = false;
        error = watchdog.ioError(rc);
        // SRT tells a refused handshake (a wrong or missing passphrase, most often) from a server
        // that does not answer only by how soon it gives up: both end as an I/O error, a refusal
        // at the server's first answer, silence after the connect timeout.
        if (target.kind == "srt" && rc == AVERROR(EIO) && !watchdog.stopping &&
            av_gettime_relative() - connectStartUs < kSrtConnectTimeoutUs / 2) {
            if (hasPassphrase(target.address)) {
                error = "the server refused the passphrase";
                lasting = true;
            } else {
                error = "the server refused the connection (it may need a passphrase)";
            }
        }
        return nullptr;
    }
    // Each packet goes out whole as it is written: a completed write is a delivered one.
    muxer->flush_packets = 1;
    media::MediaOptions muxOptions;
    if (target.kind != "srt" && target.kind != "v4l2")
        muxOptions.emplace_back("flvflags", "no_duration_filesize");
    rc = watchdog.guarded(kConnectLimitUs, [&] { return c->muxer_->writeHeader(muxOptions); });
    watchdog.connectingNow = false;
    if (rc < 0) {
        error = watchdog.ioError(rc);
        // Closing flushes what the header left in the buffer: under the watchdog too.
        watchdog.guarded(kWriteLimitUs, [&] {
            c.reset();
            return 0;
        });
        return nullptr;
    }
    c->headerWritten_ = true;
    return c;
}

std::string StreamConnection::write(AVPacket* packet, bool video) {
    const AVCodecContext* format = video ? videoFormat_ : audioFormat_;
    AVStream* stream = video ? videoStream_ : audioStream_;
    if (!stream) {
        av_packet_unref(packet);
        return {};
    }
    const std::int64_t size = packet->size;
    const int rc = watchdog_.guarded(
        kWriteLimitUs, [&] { return muxer_->write(packet, format, stream); }, true);
    if (rc < 0) return watchdog_.ioError(rc);
    const AVIOContext* pb = muxer_->context()->pb;
    if (pb && pb->error < 0) return watchdog_.ioError(pb->error);
    handedBytes_ += size;
    return {};
}

bool StreamConnection::finish() {
    if (!headerWritten_) return false;
    return watchdog_.guarded(
               kWriteLimitUs, [&] { return muxer_->writeTrailer(); }, true) >= 0;
}

}  // namespace vantry::platform
