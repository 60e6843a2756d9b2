#include "platform/stream/StreamConnection.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>

#include "platform/stream/StreamMicrophone.h"

namespace vantry::platform {

StreamConnection::StreamConnection(const LiveStreamSettings& settings, StreamWatchdog& watchdog)
    : settings_(settings), watchdog_(watchdog), packet_(av_packet_alloc()) {}

StreamConnection::~StreamConnection() {
    video_.reset();
    audio_.reset();
    muxer_.reset();
    av_packet_free(&packet_);
}

std::int64_t StreamConnection::bytesOut() const {
    if (muxer_ && muxer_->context()->pb) return muxer_->bytesOut();
    return rawBytes_;
}

std::string StreamConnection::openEncoders(const std::string& kind, media::H264Backend backend) {
    if (kind == "v4l2") {
        videoStream_ = avformat_new_stream(muxer_->context(), nullptr);
        if (!videoStream_) return "out of memory";
        videoStream_->time_base = AVRational{1, settings_.fps};
        AVCodecParameters* par = videoStream_->codecpar;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = AV_CODEC_ID_RAWVIDEO;
        par->format = AV_PIX_FMT_YUV420P;
        par->width = settings_.width;
        par->height = settings_.height;
        raw_.resize(
            std::size_t(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, settings_.width, settings_.height, 1)));
        return {};
    }
    media::H264Settings h264;
    h264.width = settings_.width;
    h264.height = settings_.height;
    h264.fps = settings_.fps;
    h264.bitRate = settings_.videoBitRate;
    h264.keyFrameInterval = std::max(1, int(std::lround(settings_.keyFrameSeconds * settings_.fps)));
    h264.fixedKeyFrames = true;
    h264.lowLatency = true;
    h264.globalHeader = muxer_->wantsGlobalHeader();
    h264.backend = backend;
    try {
        video_ = std::make_unique<media::H264Encoder>(h264);
        videoStream_ = muxer_->addStream(video_->context());
        audio_ = std::make_unique<media::AacEncoder>(
            media::AacSettings{settings_.audioBitRate, muxer_->wantsGlobalHeader()});
        audioStream_ = muxer_->addStream(audio_->context());
    } catch (const media::MediaError& e) {
        return e.what();
    }
    return {};
}

std::unique_ptr<StreamConnection> StreamConnection::open(const LiveStreamSettings& settings,
                                                         const LiveStreamTarget& target,
                                                         media::H264Backend backend, StreamWatchdog& watchdog,
                                                         std::string& error) {
    std::unique_ptr<StreamConnection> c(new StreamConnection(settings, watchdog));
    const char* format = target.kind == "srt" ? "mpegts" : target.kind == "v4l2" ? "video4linux2" : "flv";
    try {
        c->muxer_ = std::make_unique<media::Muxer>(format, target.address);
    } catch (const media::MediaError&) {
        error = "FFmpeg has no " + std::string(format) + " output";
        return nullptr;
    }
    AVFormatContext* muxer = c->muxer_->context();
    muxer->interrupt_callback = watchdog.callback();
    if (error = c->openEncoders(target.kind, backend); !error.empty()) return nullptr;

    watchdog.connectingNow = true;
    media::MediaOptions options;
    if (target.kind == "srt") {
        if (!target.srtStreamId.empty()) options.emplace_back("streamid", target.srtStreamId);
        options.emplace_back("connect_timeout", "4000");
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
    int rc = watchdog.guarded(kConnectLimitUs,
                              [&] { return c->muxer_->openOutput(options, &muxer->interrupt_callback); });
    if (rc < 0) {
        watchdog.connectingNow = false;
        error = watchdog.ioError(rc);
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

std::string StreamConnection::drain(bool video) {
    AVCodecContext* encoder = video ? video_->context() : audio_->context();
    AVStream* stream = video ? videoStream_ : audioStream_;
    while (avcodec_receive_packet(encoder, packet_) == 0) {
        const int rc = watchdog_.guarded(
            kWriteLimitUs, [&] { return muxer_->write(packet_, encoder, stream); }, true);
        if (rc < 0) return watchdog_.ioError(rc);
    }
    const AVIOContext* pb = muxer_->context()->pb;
    if (pb && pb->error < 0) return watchdog_.ioError(pb->error);
    return {};
}

std::string StreamConnection::sendVideo(AVFrame* yuv, std::int64_t slot) {
    yuv->pts = slot;
    if (!video_) {
        av_image_copy_to_buffer(raw_.data(), int(raw_.size()), yuv->data, yuv->linesize, AV_PIX_FMT_YUV420P,
                                settings_.width, settings_.height, 1);
        av_packet_unref(packet_);
        if (av_new_packet(packet_, int(raw_.size())) < 0) return "out of memory";
        std::copy(raw_.begin(), raw_.end(), packet_->data);
        packet_->pts = packet_->dts = slot;
        packet_->duration = 1;
        packet_->stream_index = videoStream_->index;
        av_packet_rescale_ts(packet_, AVRational{1, settings_.fps}, videoStream_->time_base);
        const int rc = watchdog_.guarded(
            kWriteLimitUs, [&] { return av_write_frame(muxer_->context(), packet_); }, true);
        if (rc < 0) return watchdog_.ioError(rc);
        rawBytes_ += std::int64_t(raw_.size());
        return {};
    }
    const int rc = video_->send(yuv);
    if (rc < 0) return "the H.264 encoder failed: " + media::errorText(rc);
    return drain(true);
}

std::string StreamConnection::sendAudio(std::int64_t& samplesSent, std::int64_t untilSample,
                                        StreamMicrophone* microphone) {
    if (!audio_) return {};
    const int n = audio_->frameSize();
    while (samplesSent < untilSample) {
        AVFrame* frame = audio_->frame();
        if (!frame) return "out of memory";
        float* planes[2] = {reinterpret_cast<float*>(frame->data[0]),
                            reinterpret_cast<float*>(frame->data[1])};
        const bool heard = microphone && microphone->read(planes, n);
        const int rc = heard ? audio_->sendFrame(n, samplesSent) : audio_->sendSilence(n, samplesSent);
        samplesSent += n;
        if (rc < 0) return "the AAC encoder failed: " + media::errorText(rc);
        if (std::string error = drain(false); !error.empty()) return error;
    }
    return {};
}

bool StreamConnection::finish() {
    if (!headerWritten_) return false;
    if (video_) {
        video_->send(nullptr);
        drain(true);
    }
    if (audio_) {
        audio_->flush();
        drain(false);
    }
    return watchdog_.guarded(
               kWriteLimitUs, [&] { return muxer_->writeTrailer(); }, true) >= 0;
}

}  // namespace vantry::platform
