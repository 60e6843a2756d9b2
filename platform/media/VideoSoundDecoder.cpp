#include "platform/media/VideoSoundDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

#include "platform/media/MediaRuntime.h"

namespace vantry::platform::media {

VideoSoundDecoder::VideoSoundDecoder(const std::filesystem::path& file) {
    initMedia();
    const std::string name = file.string();
    if (avformat_open_input(&format_, name.c_str(), nullptr, nullptr) < 0) return;
    bool ok = avformat_find_stream_info(format_, nullptr) >= 0;
    if (ok) stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodec* decoder = nullptr;
    if (ok && stream_ >= 0) decoder = avcodec_find_decoder(format_->streams[stream_]->codecpar->codec_id);
    if (decoder) {
        codec_ = avcodec_alloc_context3(decoder);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        ok = codec_ && packet_ && frame_ &&
             avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar) >= 0;
        if (ok) {
            codec_->thread_count = 1;
            ok = avcodec_open2(codec_, decoder, nullptr) >= 0;
        }
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        if (ok && codec_->ch_layout.nb_channels <= 0) av_channel_layout_default(&codec_->ch_layout, 1);
        ok = ok && swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_FLTP, kRate, &codec_->ch_layout,
                                       codec_->sample_fmt, codec_->sample_rate, 0, nullptr) >= 0;
        // A mono sound plays at its own level on both sides (not 3 dB down on each).
        if (ok && codec_->ch_layout.nb_channels == 1) {
            const double both[2] = {1.0, 1.0};
            ok = swr_set_matrix(resampler_, both, 1) >= 0;
        }
        ok = ok && swr_init(resampler_) >= 0;
    } else {
        ok = false;
    }
    if (!ok) release();
}

VideoSoundDecoder::~VideoSoundDecoder() {
    release();
}

void VideoSoundDecoder::release() {
    swr_free(&resampler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
}

bool VideoSoundDecoder::decodeMore() {
    for (;;) {
        int rc = avcodec_receive_frame(codec_, frame_);
        if (rc == 0) {
            const int room = swr_get_out_samples(resampler_, frame_->nb_samples);
            if (room <= 0) continue;
            const std::size_t at = left_.size();
            left_.resize(at + std::size_t(room));
            right_.resize(at + std::size_t(room));
            std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(left_.data() + at),
                                    reinterpret_cast<std::uint8_t*>(right_.data() + at)};
            const int got =
                swr_convert(resampler_, out, room, const_cast<const std::uint8_t**>(frame_->extended_data),
                            frame_->nb_samples);
            left_.resize(at + std::size_t(std::max(got, 0)));
            right_.resize(at + std::size_t(std::max(got, 0)));
            if (got > 0) return true;
            continue;
        }
        if (rc == AVERROR_EOF) return false;
        if (draining_) return false;
        // Needs input: the next packet of the audio stream.
        for (;;) {
            rc = av_read_frame(format_, packet_);
            if (rc < 0) {
                draining_ = true;
                avcodec_send_packet(codec_, nullptr);
                break;
            }
            const bool ours = packet_->stream_index == stream_;
            if (ours) rc = avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
            if (ours) break;
        }
    }
}

bool VideoSoundDecoder::rewindFile() {
    if (av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(format_, -1, INT64_MIN, 0, 0, 0) < 0)
        return false;
    avcodec_flush_buffers(codec_);
    draining_ = false;
    return true;
}

void VideoSoundDecoder::restart() {
    left_.clear();
    right_.clear();
    head_ = 0;
    if (hasSound()) rewindFile();
}

int VideoSoundDecoder::read(float* left, float* right, int frames) {
    int done = 0;
    bool rewound = false;  // one rewind per read without sound in between: an empty file
    while (hasSound() && done < frames) {
        if (head_ >= left_.size()) {
            left_.clear();
            right_.clear();
            head_ = 0;
            if (decodeMore()) {
                rewound = false;
                continue;
            }
            if (rewound || !rewindFile()) break;
            rewound = true;
            continue;
        }
        const std::size_t n = std::min(left_.size() - head_, std::size_t(frames - done));
        std::copy_n(left_.data() + head_, n, left + done);
        std::copy_n(right_.data() + head_, n, right + done);
        head_ += n;
        done += int(n);
    }
    std::fill(left + done, left + frames, 0.0f);
    std::fill(right + done, right + frames, 0.0f);
    return done;
}

}  // namespace vantry::platform::media
