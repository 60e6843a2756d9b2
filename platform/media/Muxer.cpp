#include "platform/media/Muxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>

#include "platform/media/MediaRuntime.h"

namespace vantry::platform::media {
namespace {

AVDictionary* dictionary(const MediaOptions& options) {
    AVDictionary* d = nullptr;
    for (const auto& [key, value] : options) av_dict_set(&d, key.c_str(), value.c_str(), 0);
    return d;
}

}  // namespace

Muxer::Muxer(const std::string& format, const std::string& url) {
    initMedia();
    const int rc = avformat_alloc_output_context2(&format_, nullptr, format.c_str(), url.c_str());
    if (rc < 0 || !format_) fail("cannot create the " + format + " muxer", rc);
}

Muxer::~Muxer() {
    closeOutput();
    avformat_free_context(format_);
}

bool Muxer::wantsGlobalHeader() const {
    return format_->oformat->flags & AVFMT_GLOBALHEADER;
}

AVStream* Muxer::addStream(const AVCodecContext* encoder) {
    AVStream* stream = avformat_new_stream(format_, nullptr);
    if (!stream) fail("out of memory for a stream");
    const int rc = avcodec_parameters_from_context(stream->codecpar, encoder);
    if (rc < 0) fail("cannot describe the stream", rc);
    stream->time_base = encoder->time_base;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        stream->avg_frame_rate = encoder->framerate;
        stream->r_frame_rate = encoder->framerate;
    }
    return stream;
}

int Muxer::openOutput(const MediaOptions& options, const AVIOInterruptCB* interrupt) {
    if (format_->oformat->flags & AVFMT_NOFILE) return 0;
    AVDictionary* d = dictionary(options);
    const int rc = avio_open2(&format_->pb, format_->url, AVIO_FLAG_WRITE, interrupt, &d);
    av_dict_free(&d);
    return rc;
}

int Muxer::writeHeader(const MediaOptions& options) {
    AVDictionary* d = dictionary(options);
    const int rc = avformat_write_header(format_, &d);
    av_dict_free(&d);
    return rc;
}

int Muxer::write(AVPacket* packet, const AVCodecContext* encoder, AVStream* stream) {
    av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    return av_interleaved_write_frame(format_, packet);
}

int Muxer::writeTrailer() {
    return av_write_trailer(format_);
}

int Muxer::closeOutput() {
    if (!format_ || !format_->pb || (format_->oformat->flags & AVFMT_NOFILE)) return 0;
    return avio_closep(&format_->pb);
}

std::int64_t Muxer::bytesOut() const {
    return format_->pb ? std::max<std::int64_t>(avio_tell(format_->pb), 0) : 0;
}

}  // namespace vantry::platform::media
