#include "platform/media/AacEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <string>

#include "platform/media/MediaRuntime.h"

namespace vantry::platform::media {

AacEncoder::AacEncoder(const AacSettings& settings) {
    initMedia();
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac) fail("FFmpeg has no AAC encoder");
    codec_ = avcodec_alloc_context3(aac);
    if (!codec_) fail("out of memory for the AAC encoder");
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec_->sample_rate = kSampleRate;
    codec_->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    codec_->bit_rate = settings.bitRate;
    codec_->time_base = AVRational{1, kSampleRate};
    if (settings.globalHeader) codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(codec_, aac, nullptr);
    if (rc < 0) {
        avcodec_free_context(&codec_);
        fail("the AAC encoder did not start", rc);
    }
    frame_ = av_frame_alloc();
    if (frame_) {
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        frame_->sample_rate = kSampleRate;
        frame_->nb_samples = codec_->frame_size;
        rc = av_frame_get_buffer(frame_, 0);
    }
    if (!frame_ || rc < 0) {
        av_frame_free(&frame_);
        avcodec_free_context(&codec_);
        fail("out of memory for the AAC encoder");
    }
}

AacEncoder::~AacEncoder() {
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
}

int AacEncoder::frameSize() const {
    return codec_->frame_size;
}

AVFrame* AacEncoder::frame() {
    return av_frame_make_writable(frame_) < 0 ? nullptr : frame_;
}

int AacEncoder::sendFrame(int samples, std::int64_t pts) {
    frame_->nb_samples = samples;
    frame_->pts = pts;
    return avcodec_send_frame(codec_, frame_);
}

int AacEncoder::sendSilence(int samples, std::int64_t pts) {
    if (!frame()) return AVERROR(ENOMEM);
    av_samples_set_silence(frame_->data, 0, samples, 2, AV_SAMPLE_FMT_FLTP);
    return sendFrame(samples, pts);
}

int AacEncoder::flush() {
    return avcodec_send_frame(codec_, nullptr);
}

int AacEncoder::receive(AVPacket* packet) {
    return avcodec_receive_packet(codec_, packet);
}

}  // namespace vantry::platform::media
