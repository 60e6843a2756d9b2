#include "platform/stream/StreamEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>

#include "platform/media/PictureConverter.h"
#include "platform/stream/StreamSound.h"

namespace vantry::platform {
namespace {

// A context that only describes an encoder's output (codec, size, header, time base).
AVCodecContext* describe(const AVCodecContext* encoder) {
    AVCodecContext* copy = avcodec_alloc_context3(nullptr);
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    const bool ok = copy && parameters && avcodec_parameters_from_context(parameters, encoder) >= 0 &&
                    avcodec_parameters_to_context(copy, parameters) >= 0;
    avcodec_parameters_free(&parameters);
    if (!ok) {
        avcodec_free_context(&copy);
        throw LiveStreamError("Out of memory for the stream");
    }
    copy->time_base = encoder->time_base;
    copy->framerate = encoder->framerate;
    return copy;
}

}  // namespace

StreamEncoder::StreamEncoder(const LiveStreamSettings& settings, bool raw, media::H264Backend backend,
                             bool globalHeader)
    : settings_(settings), packet_(av_packet_alloc()) {
    if (!packet_) throw LiveStreamError("Out of memory for the stream");
    if (raw) {
        videoFormat_ = avcodec_alloc_context3(nullptr);
        if (!videoFormat_) throw LiveStreamError("Out of memory for the stream");
        videoFormat_->codec_type = AVMEDIA_TYPE_VIDEO;
        videoFormat_->codec_id = AV_CODEC_ID_RAWVIDEO;
        videoFormat_->pix_fmt = AV_PIX_FMT_YUV420P;
        videoFormat_->width = settings.width;
        videoFormat_->height = settings.height;
        videoFormat_->time_base = AVRational{1, settings.fps};
        videoFormat_->framerate = AVRational{settings.fps, 1};
        media::tagBt709(videoFormat_);
        return;
    }
    media::H264Settings h264;
    h264.width = settings.width;
    h264.height = settings.height;
    h264.fps = settings.fps;
    h264.bitRate = settings.videoBitRate;
    h264.keyFrameInterval = std::max(1, int(std::lround(settings.keyFrameSeconds * settings.fps)));
    h264.fixedKeyFrames = true;
    h264.lowLatency = true;
    h264.globalHeader = globalHeader;
    h264.backend = backend;
    try {
        video_ = std::make_unique<media::H264Encoder>(h264);
        audio_ = std::make_unique<media::AacEncoder>(media::AacSettings{settings.audioBitRate, globalHeader});
    } catch (const media::MediaError& e) {
        av_packet_free(&packet_);
        throw LiveStreamError(e.what());
    }
    videoFormat_ = describe(video_->context());
    audioFormat_ = describe(audio_->context());
}

StreamEncoder::~StreamEncoder() {
    video_.reset();
    audio_.reset();
    avcodec_free_context(&videoFormat_);
    avcodec_free_context(&audioFormat_);
    av_packet_free(&packet_);
}

void StreamEncoder::drain(bool video, const Sink& sink) {
    const auto receive = [&] { return video ? video_->receive(packet_) : audio_->receive(packet_); };
    while (receive() == 0) {
        sink(packet_, video);
        av_packet_unref(packet_);
    }
}

std::string StreamEncoder::sendVideo(AVFrame* yuv, std::int64_t slot, const Sink& sink) {
    yuv->pts = slot;
    if (!video_) {
        const int size = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, settings_.width, settings_.height, 1);
        av_packet_unref(packet_);
        if (size < 0 || av_new_packet(packet_, size) < 0) return "out of memory";
        av_image_copy_to_buffer(packet_->data, size, yuv->data, yuv->linesize, AV_PIX_FMT_YUV420P,
                                settings_.width, settings_.height, 1);
        packet_->pts = packet_->dts = slot;
        packet_->duration = 1;
        packet_->flags |= AV_PKT_FLAG_KEY;
        sink(packet_, true);
        av_packet_unref(packet_);
        return {};
    }
    const int rc = video_->send(yuv);
    if (rc < 0) return "the H.264 encoder failed: " + media::errorText(rc);
    drain(true, sink);
    return {};
}

std::string StreamEncoder::sendAudio(std::int64_t& samplesSent, std::int64_t untilSample, StreamSound* sound,
                                     const Sink& sink) {
    if (!audio_) return {};
    const int n = audio_->frameSize();
    while (samplesSent < untilSample) {
        AVFrame* frame = audio_->frame();
        if (!frame) return "out of memory";
        float* planes[2] = {reinterpret_cast<float*>(frame->data[0]),
                            reinterpret_cast<float*>(frame->data[1])};
        const bool heard = sound && sound->read(planes, n, samplesSent);
        const int rc = heard ? audio_->sendFrame(n, samplesSent) : audio_->sendSilence(n, samplesSent);
        samplesSent += n;
        if (rc < 0) return "the AAC encoder failed: " + media::errorText(rc);
        drain(false, sink);
    }
    return {};
}

void StreamEncoder::finish(const Sink& sink) {
    if (video_) {
        video_->send(nullptr);
        drain(true, sink);
    }
    if (audio_) {
        audio_->flush();
        drain(false, sink);
    }
}

}  // namespace vantry::platform
