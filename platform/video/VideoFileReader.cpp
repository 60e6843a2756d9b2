#include "platform/video/VideoFileReader.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/files/RegularFile.h"
#include "platform/media/MediaRuntime.h"
#include "platform/video/VideoWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vantry::platform {
namespace {

// Video files larger than this are not opened.
constexpr std::uintmax_t kMaxVideoFileBytes = std::uintmax_t(64) << 30;

[[noreturn]] void fail(const std::string& what, int code = 0) {
    std::string text = "Video reader: " + what;
    if (code < 0) text += ": " + media::errorText(code);
    throw VideoWriterError(text, VideoWriterError::Kind::File);
}

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;

FormatPtr openInput(const std::filesystem::path& path, int& videoIndex) {
    // Checked without blocking first: FFmpeg would wait on a named pipe forever.
    if (auto why = whyNotReadable(path, kMaxVideoFileBytes))
        fail("cannot open '" + path.string() + "': " + *why);
    media::initMedia();
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.string().c_str(), nullptr, nullptr);
    if (rc < 0) fail("cannot open '" + path.string() + "'", rc);
    FormatPtr format(raw);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) fail("cannot read the streams of '" + path.string() + "'", rc);
    videoIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex < 0) fail("no video stream in '" + path.string() + "'");
    return format;
}

std::vector<std::string> readTopLevelBoxes(const std::filesystem::path& path) {
    std::vector<std::string> boxes;
    if (whyNotReadable(path, kMaxVideoFileBytes)) return boxes;  // never waits on a pipe or a device
    std::ifstream in(path, std::ios::binary);
    if (!in) return boxes;
    in.seekg(0, std::ios::end);
    const std::uint64_t size = static_cast<std::uint64_t>(in.tellg());
    std::uint64_t offset = 0;
    while (offset + 8 <= size && boxes.size() < 1000) {
        in.seekg(static_cast<std::streamoff>(offset));
        unsigned char head[16] = {};
        if (!in.read(reinterpret_cast<char*>(head), 8)) break;
        std::uint64_t boxSize = (std::uint64_t(head[0]) << 24) | (std::uint64_t(head[1]) << 16) |
                                (std::uint64_t(head[2]) << 8) | head[3];
        boxes.emplace_back(reinterpret_cast<const char*>(head + 4), 4);
        if (boxSize == 1) {
            if (!in.read(reinterpret_cast<char*>(head + 8), 8)) break;
            boxSize = 0;
            for (int i = 8; i < 16; ++i) boxSize = (boxSize << 8) | head[i];
        } else if (boxSize == 0) {
            boxSize = size - offset;
        }
        if (boxSize < 8) break;
        offset += boxSize;
    }
    return boxes;
}

}  // namespace

bool VideoFileInfo::moovBeforeMdat() const {
    const auto moov = std::find(topLevelBoxes.begin(), topLevelBoxes.end(), "moov");
    const auto mdat = std::find(topLevelBoxes.begin(), topLevelBoxes.end(), "mdat");
    return moov != topLevelBoxes.end() && mdat != topLevelBoxes.end() && moov < mdat;
}

double VideoFileInfo::mediaBitRate() const {
    if (packets.empty() || frameRateNum <= 0 || frameRateDen <= 0) return 0;
    std::int64_t bytes = 0;
    for (const auto& p : packets) bytes += p.sizeBytes;
    const double seconds = double(packets.size()) * frameRateDen / frameRateNum;
    return bytes * 8.0 / seconds;
}

double VideoFileInfo::fileBitRate() const {
    if (packets.empty() || frameRateNum <= 0 || frameRateDen <= 0) return 0;
    const double seconds = double(packets.size()) * frameRateDen / frameRateNum;
    return fileSizeBytes * 8.0 / seconds;
}

VideoFileInfo probeVideoFile(const std::filesystem::path& path) {
    int videoIndex = -1;
    FormatPtr format = openInput(path, videoIndex);
    VideoFileInfo info;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        switch (format->streams[i]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                ++info.videoStreams;
                break;
            case AVMEDIA_TYPE_AUDIO:
                ++info.audioStreams;
                break;
            default:
                ++info.otherStreams;
                break;
        }
    }
    const AVStream* stream = format->streams[videoIndex];
    const AVCodecParameters* par = stream->codecpar;
    info.codecName = avcodec_get_name(par->codec_id);
    const char* pix = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
    info.pixelFormat = pix ? pix : "";
    info.width = par->width;
    info.height = par->height;
    info.timeBaseNum = stream->time_base.num;
    info.timeBaseDen = stream->time_base.den;
    info.frameRateNum = stream->avg_frame_rate.num;
    info.frameRateDen = stream->avg_frame_rate.den;
    info.hasAvcC = par->extradata_size > 0 && par->extradata[0] == 1;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    info.fileSizeBytes = ec ? 0 : static_cast<std::int64_t>(size);
    info.topLevelBoxes = readTopLevelBoxes(path);

    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format.get(), packet) >= 0) {
        if (packet->stream_index == videoIndex) {
            VideoPacketInfo p;
            p.pts = packet->pts;
            p.ptsSeconds = packet->pts * av_q2d(stream->time_base);
            p.keyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            p.sizeBytes = packet->size;
            info.packets.push_back(p);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    std::sort(info.packets.begin(), info.packets.end(),
              [](const VideoPacketInfo& a, const VideoPacketInfo& b) { return a.pts < b.pts; });
    return info;
}

std::vector<DecodedVideoFrame> decodeVideoFrames(const std::filesystem::path& path,
                                                 const std::function<bool(std::int64_t)>& want) {
    int videoIndex = -1;
    FormatPtr format = openInput(path, videoIndex);
    const AVStream* stream = format->streams[videoIndex];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) fail("no decoder for the video stream");
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> codecGuard(
        codec, [](AVCodecContext* c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(codec, stream->codecpar);
    codec->thread_count = 1;
    int rc = avcodec_open2(codec, decoder, nullptr);
    if (rc < 0) fail("cannot open the decoder", rc);

    std::vector<DecodedVideoFrame> out;
    std::int64_t index = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* scaler = nullptr;

    auto take = [&]() {
        while (avcodec_receive_frame(codec, frame) >= 0) {
            if (want(index)) {
                DecodedVideoFrame f;
                f.index = index;
                const std::int64_t pts = frame->best_effort_timestamp;
                f.ptsSeconds = pts * av_q2d(stream->time_base);
                f.width = frame->width;
                f.height = frame->height;
                f.bgra.resize(std::size_t(f.width) * f.height * 4);
                scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                              static_cast<AVPixelFormat>(frame->format), frame->width,
                                              frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR | SWS_ACCURATE_RND,
                                              nullptr, nullptr, nullptr);
                if (scaler) {
                    const int space = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
                    const int fullRange = frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
                    sws_setColorspaceDetails(scaler, sws_getCoefficients(space), fullRange,
                                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
                    std::uint8_t* dst[4] = {f.bgra.data(), nullptr, nullptr, nullptr};
                    const int dstStride[4] = {f.width * 4, 0, 0, 0};
                    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
                }
                out.push_back(std::move(f));
            }
            ++index;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format.get(), packet) >= 0) {
        if (packet->stream_index == videoIndex && avcodec_send_packet(codec, packet) >= 0) take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(codec, nullptr);
    take();
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    return out;
}

}  // namespace vantry::platform
