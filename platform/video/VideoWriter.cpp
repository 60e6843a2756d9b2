#include "platform/video/VideoWriter.h"

#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "platform/media/H264Encoder.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/Muxer.h"
#include "platform/media/PictureConverter.h"

namespace vantry::platform {
namespace {

using Kind = VideoWriterError::Kind;

[[noreturn]] void fail(Kind kind, const std::string& what) {
    throw VideoWriterError("Video writer: " + what, kind);
}

[[noreturn]] void fail(Kind kind, const std::string& what, int code) {
    fail(kind, what + ": " + media::errorText(code));
}

// Runs a media-layer step, its failure reported as `kind`.
template <class F>
auto step(Kind kind, F&& f) {
    try {
        return f();
    } catch (const media::MediaError& e) {
        fail(kind, e.what());
    }
}

constexpr int kRowAlignment = 64;

}  // namespace

struct VideoWriter::Impl {
    std::filesystem::path path;
    VideoWriterSettings settings;
    std::unique_ptr<media::Muxer> muxer;
    std::unique_ptr<media::H264Encoder> encoder;
    AVStream* stream = nullptr;
    std::unique_ptr<media::PictureConverter> converter;
    AVPacket* packet = nullptr;
    std::uint8_t* memory = nullptr;
    std::ptrdiff_t memoryStride = 0;
    std::int64_t lastIndex = -1;
    std::int64_t written = 0;
    bool done = false;
    media::H264Backend backend = media::H264Backend::x264;

    ~Impl() { release(); }

    void release() {
        converter.reset();
        av_packet_free(&packet);
        encoder.reset();
        muxer.reset();
        av_freep(&memory);
    }

    bool fileCreated() const { return muxer && muxer->context()->pb; }

    void open() {
        const auto& s = settings;
        if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2)
            fail(Kind::Settings, "frame size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                                     " must be positive and even");
        if (s.fps <= 0) fail(Kind::Settings, "frames per second must be positive");
        if (s.averageBitRate <= 0) fail(Kind::Settings, "average bit rate must be positive");
        if (s.maxKeyFrameInterval && *s.maxKeyFrameInterval <= 0)
            fail(Kind::Settings, "key-frame interval must be positive");

        const std::string file = path.string();
        muxer = step(Kind::File, [&] { return std::make_unique<media::Muxer>("mp4", file); });
        media::H264Settings h264;
        h264.width = s.width;
        h264.height = s.height;
        h264.fps = s.fps;
        // Average rate as the target, held by a cap of the same rate over half a second, so
        // even short files stay within a few percent of it.
        h264.bitRate = s.averageBitRate;
        h264.bufferBits = s.averageBitRate / 2;
        // Closed GOPs so every key frame is a clean entry point.
        if (s.maxKeyFrameInterval) h264.keyFrameInterval = *s.maxKeyFrameInterval;
        h264.closedGop = s.maxKeyFrameInterval.has_value();
        h264.preset = s.preset;
        h264.globalHeader = muxer->wantsGlobalHeader();
        h264.backend = step(Kind::Encoder, [&] { return media::pickH264(s.encoder); });
        encoder = step(Kind::Encoder, [&] { return std::make_unique<media::H264Encoder>(h264); });
        backend = h264.backend;
        stream = step(Kind::Encoder, [&] { return muxer->addStream(encoder->context()); });

        int rc = muxer->openOutput();
        if (rc < 0) fail(Kind::File, "cannot open '" + file + "' for writing", rc);
        rc = muxer->writeHeader({{"movflags", "+faststart"}});
        if (rc < 0) fail(Kind::File, "cannot write the MP4 header to '" + file + "'", rc);

        converter =
            step(Kind::Encoder, [&] { return std::make_unique<media::PictureConverter>(s.width, s.height); });
        packet = av_packet_alloc();
        if (!packet) fail(Kind::Encoder, "out of memory allocating frames");
    }

    void drain() {
        const int rc = media::drainPackets(
            *encoder, packet, [&](AVPacket* p) { return muxer->write(p, encoder->context(), stream); });
        if (rc < 0) fail(Kind::File, "cannot write to '" + path.string() + "'", rc);
    }

    void append(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frameIndex) {
        if (done) fail(Kind::Usage, "cannot append after finish");
        if (!pixels) fail(Kind::Usage, "no pixels to append");
        if (stride < std::ptrdiff_t(settings.width) * 4)
            fail(Kind::Usage, "row stride smaller than width * 4");
        if (frameIndex <= lastIndex)
            fail(Kind::Usage, "frame index " + std::to_string(frameIndex) + " does not follow " +
                                  std::to_string(lastIndex));
        if (!converter->convertBGRA(pixels, stride))
            fail(Kind::Encoder, "cannot convert frame " + std::to_string(frameIndex));
        AVFrame* yuv = converter->frame();
        yuv->pts = frameIndex;
        const int rc = encoder->send(yuv);
        if (rc < 0) fail(Kind::Encoder, "the H.264 encoder refused frame " + std::to_string(frameIndex), rc);
        lastIndex = frameIndex;
        ++written;
        drain();
    }

    void finishWriting() {
        if (done) return;
        done = true;
        try {
            int rc = encoder->send(nullptr);
            if (rc < 0) fail(Kind::Encoder, "cannot flush the H.264 encoder", rc);
            drain();
            rc = muxer->writeTrailer();
            if (rc < 0) fail(Kind::File, "cannot write the MP4 index of '" + path.string() + "'", rc);
            rc = muxer->closeOutput();
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
        const bool created = impl_->fileCreated();
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
media::H264Backend VideoWriter::encoderBackend() const {
    return impl_->backend;
}

}  // namespace vantry::platform
