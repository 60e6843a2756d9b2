#include "platform/video/VideoFileReader.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/files/RegularFile.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/VideoFileDecoder.h"
#include "platform/video/VideoWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace vantry::platform {
namespace {

// Video files larger than this are not opened.
constexpr std::uintmax_t kMaxVideoFileBytes = std::uintmax_t(64) << 30;

// The file opened for reading; a failure as VideoWriterError.
std::unique_ptr<media::VideoFileDecoder> openInput(const std::filesystem::path& path,
                                                   media::PictureScaler::Rounding rounding) {
    // Checked without blocking first: FFmpeg would wait on a named pipe forever.
    if (auto why = whyNotReadable(path, kMaxVideoFileBytes))
        throw VideoWriterError("Video reader: cannot open '" + path.string() + "': " + *why,
                               VideoWriterError::Kind::File);
    try {
        return std::make_unique<media::VideoFileDecoder>(path, rounding);
    } catch (const media::MediaError& e) {
        throw VideoWriterError(std::string("Video reader: ") + e.what(), VideoWriterError::Kind::File);
    }
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
    const auto input = openInput(path, media::PictureScaler::Rounding::fast);
    AVFormatContext* format = input->container();
    const int videoIndex = input->streamIndex();
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
    while (av_read_frame(format, packet) >= 0) {
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
    // Exact rounding: the colours read back are the ones a check compares.
    const auto input = openInput(path, media::PictureScaler::Rounding::exact);
    std::vector<DecodedVideoFrame> out;
    for (std::int64_t index = 0; input->next(); ++index) {
        if (!want(index)) continue;
        const media::DecodedPicture picture = input->picture();
        DecodedVideoFrame f;
        f.index = index;
        f.ptsSeconds = picture.seconds;
        f.width = picture.width;
        f.height = picture.height;
        f.bgra.resize(std::size_t(f.width) * f.height * 4);
        input->pictureToBGRA(f.bgra.data(), f.width * 4, f.width, f.height);
        out.push_back(std::move(f));
    }
    return out;
}

}  // namespace vantry::platform
