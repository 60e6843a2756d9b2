#include "platform/media/VideoFileDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <climits>

#include "platform/media/MediaRuntime.h"

namespace vantry::platform::media {

VideoFileDecoder::VideoFileDecoder(const std::filesystem::path& file, PictureScaler::Rounding rounding)
    : scaler_(rounding) {
    initMedia();
    const std::string name = file.string();
    int rc = avformat_open_input(&format_, name.c_str(), nullptr, nullptr);
    if (rc < 0) fail("cannot open '" + name + "'", rc);
    try {
        rc = avformat_find_stream_info(format_, nullptr);
        if (rc < 0) fail("cannot read the streams of '" + name + "'", rc);
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream_ < 0) fail("no video stream in '" + name + "'");
        const AVCodecParameters* parameters = format_->streams[stream_]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
        if (!decoder) fail("no decoder for the video stream");
        codec_ = avcodec_alloc_context3(decoder);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!codec_ || !packet_ || !frame_) fail("out of memory for the decoder");
        rc = avcodec_parameters_to_context(codec_, parameters);
        codec_->thread_count = 1;
        if (rc >= 0) rc = avcodec_open2(codec_, decoder, nullptr);
        if (rc < 0) fail("cannot open the decoder", rc);
    } catch (...) {
        release();
        throw;
    }
}

VideoFileDecoder::~VideoFileDecoder() {
    release();
}

void VideoFileDecoder::release() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
}

int VideoFileDecoder::width() const {
    return format_->streams[stream_]->codecpar->width;
}

int VideoFileDecoder::height() const {
    return format_->streams[stream_]->codecpar->height;
}

double VideoFileDecoder::frameRate() const {
    const AVStream* stream = format_->streams[stream_];
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
}

bool VideoFileDecoder::next() {
    av_frame_unref(frame_);
    for (;;) {
        const int rc = avcodec_receive_frame(codec_, frame_);
        if (rc >= 0) return true;
        if (rc != AVERROR(EAGAIN) || draining_) return false;
        if (av_read_frame(format_, packet_) < 0) {
            // The end (or a broken tail): what the decoder still holds comes out.
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        // A packet the decoder refuses is left out; the next key frame picks up again.
        if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
    }
}

bool VideoFileDecoder::rewind() {
    if (av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(format_, stream_, INT64_MIN, 0, INT64_MAX, 0) < 0)
        return false;
    avcodec_flush_buffers(codec_);
    draining_ = false;
    return true;
}

DecodedPicture VideoFileDecoder::picture() const {
    DecodedPicture p;
    p.width = frame_->width;
    p.height = frame_->height;
    const AVRational sar = frame_->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0) {
        p.aspectNum = sar.num;
        p.aspectDen = sar.den;
    }
    p.seconds = double(frame_->best_effort_timestamp) * av_q2d(format_->streams[stream_]->time_base);
    return p;
}

bool VideoFileDecoder::pictureToBGRA(std::uint8_t* target, int stride, int width, int height) {
    if (frame_->width <= 0 || frame_->height <= 0) return false;
    const PictureLayout from{frame_->width, frame_->height, frame_->format, frame_->colorspace,
                             frame_->color_range == AVCOL_RANGE_JPEG};
    const PictureLayout to{width, height, AV_PIX_FMT_BGRA, AVCOL_SPC_RGB, true};
    std::uint8_t* const planes[4] = {target, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    return scaler_.scale(from, frame_->data, frame_->linesize, to, planes, strides);
}

}  // namespace vantry::platform::media
