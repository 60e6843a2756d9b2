#include "platform/video/VideoWriter.h"

#include <mutex>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vantry::platform {
namespace {

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

using Kind = VideoWriterError::Kind;

[[noreturn]] void fail(Kind kind, const std::string& what) {
    throw VideoWriterError("Video writer: " + what, kind);
}

[[noreturn]] void fail(Kind kind, const std::string& what, int code) {
    fail(kind, what + ": " + avError(code));
}

constexpr int kRowAlignment = 64;

// The libraries print encoder statistics to stderr by default; this system
// reports through exceptions only, so they speak up for errors alone.
void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

}  // namespace

struct VideoWriter::Impl {
    std::filesystem::path path;
    VideoWriterSettings settings;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* yuv = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    std::uint8_t* memory = nullptr;
    std::ptrdiff_t memoryStride = 0;
    std::int64_t lastIndex = -1;
    std::int64_t written = 0;
    bool headerWritten = false;
    bool done = false;

    ~Impl() { release(); }

    void release() {
        sws_freeContext(scaler);
        scaler = nullptr;
        av_frame_free(&yuv);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
            format = nullptr;
        }
        av_freep(&memory);
    }

    void open() {
        quietLibraries();
        const auto& s = settings;
        if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2)
            fail(Kind::Settings, "frame size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                                     " must be positive and even");
        if (s.fps <= 0) fail(Kind::Settings, "frames per second must be positive");
        if (s.averageBitRate <= 0) fail(Kind::Settings, "average bit rate must be positive");
        if (s.maxKeyFrameInterval && *s.maxKeyFrameInterval <= 0)
            fail(Kind::Settings, "key-frame interval must be positive");

        const std::string file = path.string();
        int rc = avformat_alloc_output_context2(&format, nullptr, "mp4", file.c_str());
        if (rc < 0 || !format) fail(Kind::File, "cannot create the MP4 muxer", rc);

        const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
        if (!encoder) fail(Kind::Encoder, "the libx264 H.264 encoder is not available in this FFmpeg build");
        stream = avformat_new_stream(format, nullptr);
        codec = avcodec_alloc_context3(encoder);
        if (!stream || !codec) fail(Kind::Encoder, "out of memory creating the video stream");

        codec->codec_id = AV_CODEC_ID_H264;
        codec->width = s.width;
        codec->height = s.height;
        codec->pix_fmt = AV_PIX_FMT_YUV420P;
        codec->time_base = AVRational{1, s.fps};
        codec->framerate = AVRational{s.fps, 1};
        codec->sample_aspect_ratio = AVRational{1, 1};
        // Average rate as the target, held by a VBV cap of the same rate over
        // half a second, so even short files stay within a few percent of it.
        codec->bit_rate = s.averageBitRate;
        codec->rc_max_rate = s.averageBitRate;
        codec->rc_buffer_size = static_cast<int>(std::min<std::int64_t>(s.averageBitRate / 2, INT32_MAX));
        if (s.maxKeyFrameInterval) codec->gop_size = *s.maxKeyFrameInterval;
        codec->color_range = AVCOL_RANGE_MPEG;
        codec->colorspace = AVCOL_SPC_BT709;
        codec->color_primaries = AVCOL_PRI_BT709;
        codec->color_trc = AVCOL_TRC_BT709;
        if (format->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        AVDictionary* codecOptions = nullptr;
        av_dict_set(&codecOptions, "preset", s.preset.c_str(), 0);
        if (s.maxKeyFrameInterval) {
            // Closed GOPs so every key frame is a clean entry point.
            av_dict_set(&codecOptions, "x264-params", "open-gop=0", 0);
        }
        rc = avcodec_open2(codec, encoder, &codecOptions);
        const bool unusedOption = av_dict_count(codecOptions) > 0;
        av_dict_free(&codecOptions);
        if (rc < 0) fail(Kind::Encoder, "cannot open the H.264 encoder (preset '" + s.preset + "')", rc);
        if (unusedOption) fail(Kind::Encoder, "the H.264 encoder rejected an option");

        rc = avcodec_parameters_from_context(stream->codecpar, codec);
        if (rc < 0) fail(Kind::Encoder, "cannot describe the video stream", rc);
        stream->time_base = codec->time_base;
        stream->avg_frame_rate = codec->framerate;
        stream->r_frame_rate = codec->framerate;

        rc = avio_open(&format->pb, file.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) fail(Kind::File, "cannot open '" + file + "' for writing", rc);

        AVDictionary* muxOptions = nullptr;
        av_dict_set(&muxOptions, "movflags", "+faststart", 0);
        rc = avformat_write_header(format, &muxOptions);
        av_dict_free(&muxOptions);
        if (rc < 0) fail(Kind::File, "cannot write the MP4 header to '" + file + "'", rc);
        headerWritten = true;

        yuv = av_frame_alloc();
        packet = av_packet_alloc();
        if (!yuv || !packet) fail(Kind::Encoder, "out of memory allocating frames");
        yuv->format = AV_PIX_FMT_YUV420P;
        yuv->width = s.width;
        yuv->height = s.height;
        yuv->color_range = AVCOL_RANGE_MPEG;
        yuv->colorspace = AVCOL_SPC_BT709;
        rc = av_frame_get_buffer(yuv, 0);
        if (rc < 0) fail(Kind::Encoder, "cannot allocate the frame buffer", rc);

        // Bilinear chroma decimation; exact rounding (SWS_ACCURATE_RND) costs
        // about 60 % more conversion time for at most one level of difference.
        scaler = sws_getContext(s.width, s.height, AV_PIX_FMT_BGRA, s.width, s.height, AV_PIX_FMT_YUV420P,
                                SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler) fail(Kind::Encoder, "cannot create the BGRA to YUV converter");
        // Full-range RGB in, limited-range BT.709 out, as the stream is tagged.
        sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    }

    void drain(bool flushing) {
        for (;;) {
            int rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || (flushing && rc == AVERROR_EOF)) return;
            if (rc < 0) fail(Kind::Encoder, "the H.264 encoder failed", rc);
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format, packet);
            if (rc < 0) fail(Kind::File, "cannot write to '" + path.string() + "'", rc);
        }
    }

    void append(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frameIndex) {
        if (done) fail(Kind::Usage, "cannot append after finish");
        if (!pixels) fail(Kind::Usage, "no pixels to append");
        if (stride < std::ptrdiff_t(settings.width) * 4)
            fail(Kind::Usage, "row stride smaller than width * 4");
        if (frameIndex <= lastIndex)
            fail(Kind::Usage, "frame index " + std::to_string(frameIndex) + " does not follow " +
                                  std::to_string(lastIndex));
        int rc = av_frame_make_writable(yuv);
        if (rc < 0) fail(Kind::Encoder, "cannot reuse the frame buffer", rc);
        const std::uint8_t* const src[4] = {pixels, nullptr, nullptr, nullptr};
        const int srcStride[4] = {static_cast<int>(stride), 0, 0, 0};
        sws_scale(scaler, src, srcStride, 0, settings.height, yuv->data, yuv->linesize);
        yuv->pts = frameIndex;
        rc = avcodec_send_frame(codec, yuv);
        if (rc < 0) fail(Kind::Encoder, "the H.264 encoder refused frame " + std::to_string(frameIndex), rc);
        lastIndex = frameIndex;
        ++written;
        drain(false);
    }

    void finishWriting() {
        if (done) return;
        done = true;
        try {
            int rc = avcodec_send_frame(codec, nullptr);
            if (rc < 0) fail(Kind::Encoder, "cannot flush the H.264 encoder", rc);
            drain(true);
            rc = av_write_trailer(format);
            if (rc < 0) fail(Kind::File, "cannot write the MP4 index of '" + path.string() + "'", rc);
            rc = avio_closep(&format->pb);
            if (rc < 0) fail(Kind::File, "cannot close '" + path.string() + "'", rc);
        } catch (...) {
            release();
            throw;
        }
        release();
    }
};

VideoWriter::VideoWriter(const std::filesystem::path& path, const VideoWriterSettings& settings)
    : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    impl_->settings = settings;
    try {
        impl_->open();
    } catch (...) {
        const bool created = impl_->format && impl_->format->pb;
        impl_->release();
        if (created) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        throw;
    }
}

VideoWriter::~VideoWriter() {
    if (!impl_->done) {
        try {
            impl_->finishWriting();
        } catch (...) {
            // Destruction cannot report; finish() is the checked path.
        }
    }
}

const VideoWriterSettings& VideoWriter::settings() const {
    return impl_->settings;
}
const std::filesystem::path& VideoWriter::path() const {
    return impl_->path;
}

void VideoWriter::appendBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frameIndex) {
    impl_->append(pixels, stride, frameIndex);
}

VideoFrameMemory VideoWriter::frameMemory() {
    auto& d = *impl_;
    if (d.done) fail(Kind::Usage, "no frame memory after finish");
    if (!d.memory) {
        d.memoryStride =
            (std::ptrdiff_t(d.settings.width) * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
        d.memory = static_cast<std::uint8_t*>(av_mallocz(std::size_t(d.memoryStride) * d.settings.height));
        if (!d.memory) fail(Kind::Encoder, "out of memory for the frame memory");
    }
    return {d.memory, d.settings.width, d.settings.height, d.memoryStride};
}

void VideoWriter::appendFrameMemory(std::int64_t frameIndex) {
    auto& d = *impl_;
    if (!d.memory) fail(Kind::Usage, "appendFrameMemory before frameMemory");
    d.append(d.memory, d.memoryStride, frameIndex);
}

void VideoWriter::finish() {
    impl_->finishWriting();
}
bool VideoWriter::finished() const {
    return impl_->done;
}
std::int64_t VideoWriter::framesWritten() const {
    return impl_->written;
}

}  // namespace vantry::platform
