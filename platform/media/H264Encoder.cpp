#include "platform/media/H264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/media/MediaRuntime.h"
#include "platform/media/PictureConverter.h"

namespace vantry::platform::media {
namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

// The encoder's own options for the settings.
Options encoderOptions(const H264Settings& s) {
    Options o;
    switch (s.backend) {
        case H264Backend::x264: {
            o.emplace_back("preset", s.preset);
            if (s.lowLatency) o.emplace_back("tune", "zerolatency");
            std::string params;
            const auto add = [&](const char* p) { params += (params.empty() ? "" : ":") + std::string(p); };
            if (s.closedGop) add("open-gop=0");
            if (s.fixedKeyFrames) add("scenecut=0");
            if (s.lowLatency) add("nal-hrd=cbr");
            if (!params.empty()) o.emplace_back("x264-params", params);
            break;
        }
        case H264Backend::nvenc:
            o.emplace_back("preset", "p4");
            o.emplace_back("rc", s.lowLatency ? "cbr" : "vbr");
            if (s.lowLatency) o.emplace_back("tune", "ll");
            if (s.fixedKeyFrames) o.emplace_back("no-scenecut", "1");
            if (s.closedGop) o.emplace_back("strict_gop", "1");
            break;
        case H264Backend::vaapi:
            o.emplace_back("rc_mode", s.lowLatency ? "CBR" : "VBR");
            break;
    }
    return o;
}

void describe(AVCodecContext* c, const H264Settings& s) {
    c->width = s.width;
    c->height = s.height;
    c->time_base = AVRational{1, s.fps};
    c->framerate = AVRational{s.fps, 1};
    c->bit_rate = s.bitRate;
    c->rc_max_rate = s.bitRate;
    const std::int64_t buffer = s.bufferBits > 0 ? s.bufferBits : s.bitRate;
    c->rc_buffer_size = static_cast<int>(std::min<std::int64_t>(buffer, INT_MAX));
    if (s.keyFrameInterval > 0) c->gop_size = s.keyFrameInterval;
    if (s.fixedKeyFrames && s.keyFrameInterval > 0) c->keyint_min = s.keyFrameInterval;
    if (s.lowLatency) c->max_b_frames = 0;
    if (s.allThreads) c->thread_count = 0;
    c->sample_aspect_ratio = AVRational{1, 1};
    tagBt709(c);
    if (s.globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

std::string title(const H264Settings& s) {
    std::string t = h264EncoderName(s.backend);
    if (s.backend == H264Backend::x264) t += ", preset '" + s.preset + "'";
    return t;
}

}  // namespace

struct H264Encoder::Impl {
    H264Backend backend = H264Backend::x264;
    AVCodecContext* codec = nullptr;
    // VA-API: the device, the yuv420p -> NV12 conversion and the frame uploaded to the GPU.
    AVBufferRef* device = nullptr;
    SwsContext* toNv12 = nullptr;
    AVFrame* nv12 = nullptr;
    AVFrame* surface = nullptr;

    ~Impl() {
        avcodec_free_context(&codec);
        av_frame_free(&surface);
        av_frame_free(&nv12);
        sws_freeContext(toNv12);
        av_buffer_unref(&device);
    }

    void openVaapiFrames(const H264Settings& s) {
        int rc = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, nullptr, nullptr, 0);
        if (rc < 0) fail("cannot open the VA-API device", rc);
        AVBufferRef* frames = av_hwframe_ctx_alloc(device);
        if (!frames) fail("out of memory for the VA-API frames");
        auto* fc = reinterpret_cast<AVHWFramesContext*>(frames->data);
        fc->format = AV_PIX_FMT_VAAPI;
        fc->sw_format = AV_PIX_FMT_NV12;
        fc->width = s.width;
        fc->height = s.height;
        fc->initial_pool_size = 8;
        rc = av_hwframe_ctx_init(frames);
        if (rc >= 0) codec->hw_frames_ctx = av_buffer_ref(frames);
        av_buffer_unref(&frames);
        if (rc < 0 || !codec->hw_frames_ctx) fail("cannot set up the VA-API frames", rc);
        toNv12 = sws_getContext(s.width, s.height, AV_PIX_FMT_YUV420P, s.width, s.height, AV_PIX_FMT_NV12,
                                SWS_POINT, nullptr, nullptr, nullptr);
        nv12 = av_frame_alloc();
        surface = av_frame_alloc();
        if (!toNv12 || !nv12 || !surface) fail("out of memory for the VA-API upload");
        nv12->format = AV_PIX_FMT_NV12;
        nv12->width = s.width;
        nv12->height = s.height;
        rc = av_frame_get_buffer(nv12, 0);
        if (rc < 0) fail("out of memory for the VA-API upload", rc);
    }

    // A VA-API surface holding `frame`.
    const AVFrame* upload(const AVFrame* frame) {
        if (av_frame_make_writable(nv12) < 0) return nullptr;
        sws_scale(toNv12, frame->data, frame->linesize, 0, frame->height, nv12->data, nv12->linesize);
        av_frame_unref(surface);
        if (av_hwframe_get_buffer(codec->hw_frames_ctx, surface, 0) < 0) return nullptr;
        if (av_hwframe_transfer_data(surface, nv12, 0) < 0) return nullptr;
        av_frame_copy_props(surface, frame);
        return surface;
    }
};

H264Encoder::H264Encoder(const H264Settings& s) : impl_(std::make_unique<Impl>()) {
    initMedia();
    Impl& d = *impl_;
    d.backend = s.backend;
    const AVCodec* encoder = avcodec_find_encoder_by_name(h264EncoderName(s.backend));
    if (!encoder)
        fail(std::string("the ") + h264EncoderName(s.backend) +
             " H.264 encoder is not available in this FFmpeg build");
    d.codec = avcodec_alloc_context3(encoder);
    if (!d.codec) fail("out of memory for the H.264 encoder");
    describe(d.codec, s);
    if (s.backend == H264Backend::vaapi) {
        d.codec->pix_fmt = AV_PIX_FMT_VAAPI;
        d.openVaapiFrames(s);
    } else {
        d.codec->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : encoderOptions(s)) av_dict_set(&options, key.c_str(), value.c_str(), 0);
    const int rc = avcodec_open2(d.codec, encoder, &options);
    const bool unused = av_dict_count(options) > 0;
    av_dict_free(&options);
    if (rc < 0) fail("cannot open the H.264 encoder (" + title(s) + ")", rc);
    if (unused) fail("the H.264 encoder (" + title(s) + ") rejected an option");
}

H264Encoder::~H264Encoder() = default;

AVCodecContext* H264Encoder::context() const {
    return impl_->codec;
}
H264Backend H264Encoder::backend() const {
    return impl_->backend;
}

int H264Encoder::send(const AVFrame* frame) {
    if (frame && impl_->surface) {
        frame = impl_->upload(frame);
        if (!frame) return AVERROR(ENOMEM);
    }
    return avcodec_send_frame(impl_->codec, frame);
}

int H264Encoder::receive(AVPacket* packet) {
    return avcodec_receive_packet(impl_->codec, packet);
}

namespace {

// This machine, asked for real.
class SystemProbe final : public H264Probe {
  public:
    std::string missingEncoder(H264Backend backend) const override {
        initMedia();
        if (avcodec_find_encoder_by_name(h264EncoderName(backend))) return {};
        return std::string("this FFmpeg build has no ") + h264EncoderName(backend);
    }
    std::string missingDevice(H264Backend backend) const override {
        std::error_code ec;
        if (backend == H264Backend::nvenc)
            return std::filesystem::exists("/dev/nvidia0", ec) ? "" : "no NVIDIA device (/dev/nvidia0)";
        for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
            if (entry.path().filename().string().rfind("renderD", 0) == 0) return {};
        return "no GPU render node (/dev/dri/renderD*)";
    }
    // A few frames of grey at a small size must come out as packets.
    std::string failedTestEncode(H264Backend backend) const override {
        try {
            H264Settings s;
            s.width = 256;
            s.height = 144;
            s.bitRate = 1'000'000;
            s.backend = backend;
            H264Encoder encoder(s);
            AVFrame* frame = av_frame_alloc();
            AVPacket* packet = av_packet_alloc();
            frame->format = AV_PIX_FMT_YUV420P;
            frame->width = s.width;
            frame->height = s.height;
            int rc = av_frame_get_buffer(frame, 0);
            int packets = 0;
            for (int i = 0; rc >= 0 && i < 3; ++i) {
                for (int p = 0; p < 3; ++p)
                    std::fill_n(frame->data[p], frame->linesize[p] * (p ? s.height / 2 : s.height), 128);
                frame->pts = i;
                rc = encoder.send(frame);
            }
            if (rc >= 0) rc = encoder.send(nullptr);
            while (rc >= 0 && encoder.receive(packet) == 0) {
                ++packets;
                av_packet_unref(packet);
            }
            av_packet_free(&packet);
            av_frame_free(&frame);
            if (rc < 0) return "the test encode failed: " + errorText(rc);
            return packets > 0 ? "" : "the test encode gave no picture";
        } catch (const MediaError& e) {
            return std::string("the test encode failed: ") + e.what();
        }
    }
};

// The probe's answers do not change while the process runs: each is asked once.
class CachedProbe final : public H264Probe {
  public:
    std::string missingEncoder(H264Backend b) const override {
        return once(0, b, &H264Probe::missingEncoder);
    }
    std::string missingDevice(H264Backend b) const override { return once(1, b, &H264Probe::missingDevice); }
    std::string failedTestEncode(H264Backend b) const override {
        return once(2, b, &H264Probe::failedTestEncode);
    }

  private:
    using Question = std::string (H264Probe::*)(H264Backend) const;
    std::string once(int step, H264Backend b, Question question) const {
        std::lock_guard lock(mutex_);
        const auto key = std::make_pair(step, int(b));
        auto found = answers_.find(key);
        if (found == answers_.end()) found = answers_.emplace(key, (system_.*question)(b)).first;
        return found->second;
    }
    SystemProbe system_;
    mutable std::mutex mutex_;
    mutable std::map<std::pair<int, int>, std::string> answers_;
};

const H264Probe& machineProbe() {
    static CachedProbe probe;
    return probe;
}

}  // namespace

H264Backend pickH264(H264Choice choice) {
    const H264Decision decision = decideH264(choice, machineProbe());
    if (!decision.error.empty()) throw MediaError(decision.error);
    return decision.backend;
}

H264Decision surveyH264() {
    H264Decision survey = decideH264(H264Choice::automatic, machineProbe());
    // `auto` stops at the first that works; the survey names them all.
    for (const H264Backend backend : kHardwareH264) {
        const bool asked = std::any_of(survey.findings.begin(), survey.findings.end(),
                                       [&](const H264Finding& f) { return f.backend == backend; });
        if (!asked)
            survey.findings.push_back(
                decideH264(backend == H264Backend::vaapi ? H264Choice::vaapi : H264Choice::nvenc,
                           machineProbe())
                    .findings.front());
    }
    return survey;
}

}  // namespace vantry::platform::media
