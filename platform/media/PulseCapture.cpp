#include "platform/media/PulseCapture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <vector>

#include "platform/media/AacEncoder.h"
#include "platform/media/MediaRuntime.h"

namespace vantry::platform::media {
namespace {

int interruptWhenStopping(void* flag) {
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

}  // namespace

bool listPulseSources(std::vector<PulseSourceInfo>& sources, std::string& error) {
    initMedia();
    sources.clear();
    const AVInputFormat* pulse = av_find_input_format("pulse");
    if (!pulse) {
        error = "FFmpeg has no 'pulse' input";
        return false;
    }
    AVDeviceInfoList* list = nullptr;
    const int rc = avdevice_list_input_sources(pulse, nullptr, nullptr, &list);
    if (rc < 0) {
        error = errorText(rc);
        avdevice_free_list_devices(&list);
        return false;
    }
    for (int i = 0; list && i < list->nb_devices; ++i) {
        const AVDeviceInfo* d = list->devices[i];
        sources.push_back(
            {d->device_name ? d->device_name : "", d->device_description ? d->device_description : ""});
    }
    avdevice_free_list_devices(&list);
    return true;
}

struct PulseCapture::Impl {
    const std::atomic<bool>& stop;
    AVFormatContext* input = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    int channels = 0;
    std::vector<float> left, right;
    std::string error;

    explicit Impl(const std::atomic<bool>& s) : stop(s) {}
    ~Impl() {
        av_packet_free(&packet);
        swr_free(&resampler);
        avformat_close_input(&input);
    }
};

PulseCapture::PulseCapture(const std::string& source, int pieceMs, const std::atomic<bool>& stop)
    : impl_(std::make_unique<Impl>(stop)) {
    initMedia();
    Impl& d = *impl_;
    const AVInputFormat* pulse = av_find_input_format("pulse");
    if (!pulse) fail("FFmpeg has no 'pulse' input");
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "sample_rate", kSampleRate, 0);
    av_dict_set_int(&options, "channels", 2, 0);
    // The server's default would hand over seconds at a time: 2 channels of 16 bits per sample.
    av_dict_set_int(&options, "fragment_size", std::int64_t(kSampleRate) * pieceMs / 1000 * 4, 0);
    d.input = avformat_alloc_context();
    if (!d.input) fail("out of memory for the sound capture");
    d.input->interrupt_callback =
        AVIOInterruptCB{interruptWhenStopping, const_cast<std::atomic<bool>*>(&stop)};
    const int rc = avformat_open_input(&d.input, source.c_str(), pulse, &options);
    av_dict_free(&options);
    if (rc < 0) fail("no sound from '" + source + "'", rc);
    const AVCodecParameters* par = d.input->streams[0]->codecpar;
    d.channels = std::max(par->ch_layout.nb_channels, 1);
    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, d.channels);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (par->codec_id != AV_CODEC_ID_PCM_S16LE ||
        swr_alloc_set_opts2(&d.resampler, &stereo, AV_SAMPLE_FMT_FLTP, kSampleRate, &inLayout,
                            AV_SAMPLE_FMT_S16, par->sample_rate, 0, nullptr) < 0 ||
        swr_init(d.resampler) < 0)
        fail("sound from '" + source + "' has a format this program cannot read");
    d.packet = av_packet_alloc();
    if (!d.packet) fail("out of memory for the sound capture");
}

PulseCapture::~PulseCapture() = default;

bool PulseCapture::read(Piece& piece) {
    Impl& d = *impl_;
    while (!d.stop) {
        const int rc = av_read_frame(d.input, d.packet);
        if (rc == AVERROR(EAGAIN)) continue;
        if (rc < 0) {
            if (!d.stop) d.error = errorText(rc);
            return false;
        }
        const int inSamples = d.packet->size / (2 * d.channels);
        const int capacity = std::max(swr_get_out_samples(d.resampler, inSamples), 1);
        d.left.resize(std::size_t(capacity));
        d.right.resize(std::size_t(capacity));
        std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(d.left.data()),
                                reinterpret_cast<std::uint8_t*>(d.right.data())};
        const std::uint8_t* in[1] = {d.packet->data};
        const int got = swr_convert(d.resampler, out, capacity, in, inSamples);
        const std::int64_t capturedAt =
            d.packet->pts == AV_NOPTS_VALUE
                ? av_gettime()
                : av_rescale_q(d.packet->pts, d.input->streams[0]->time_base, AVRational{1, 1'000'000});
        av_packet_unref(d.packet);
        if (got <= 0) continue;
        piece = Piece{d.left.data(), d.right.data(), got, capturedAt};
        return true;
    }
    return false;
}

const std::string& PulseCapture::error() const {
    return impl_->error;
}

}  // namespace vantry::platform::media
