#include "platform/screen-recorder/ScreenSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/media/MediaRuntime.h"

namespace vantry::platform::screen_recording {
namespace {

using media::errorText;

int interruptWhenStopping(void* flag) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

}  // namespace

AVFormatContext* openScreen(const std::string& display, int fps, std::atomic<bool>* stopFlag,
                            std::string& error, unsigned long windowId) {
    media::initMedia();
    const AVInputFormat* format = av_find_input_format("x11grab");
    if (!format) {
        error = "FFmpeg has no 'x11grab' input";
        return nullptr;
    }
    AVDictionary* options = nullptr;
    if (fps > 0) {
        av_dict_set_int(&options, "framerate", fps, 0);
        av_dict_set(&options, "draw_mouse", "1", 0);
    }
    if (windowId != 0) av_dict_set_int(&options, "window_id", std::int64_t(windowId), 0);
    AVFormatContext* context = avformat_alloc_context();
    if (stopFlag) context->interrupt_callback = AVIOInterruptCB{interruptWhenStopping, stopFlag};
    const int rc = avformat_open_input(&context, display.c_str(), format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = errorText(rc);
        return nullptr;
    }
    return context;
}

X11ScreenSource::X11ScreenSource(AVFormatContext* screen) : screen_(screen), packet_(av_packet_alloc()) {}

X11ScreenSource::~X11ScreenSource() {
    av_packet_free(&packet_);
    avformat_close_input(&screen_);
}

bool X11ScreenSource::next(ScreenPicture& picture, std::string& error) {
    av_packet_unref(packet_);
    int rc;
    do rc = av_read_frame(screen_, packet_);
    while (rc == AVERROR(EAGAIN));
    if (rc < 0) {
        error = errorText(rc);
        return false;
    }
    const AVCodecParameters* par = screen_->streams[0]->codecpar;
    picture.width = par->width;
    picture.height = par->height;
    picture.format = static_cast<AVPixelFormat>(par->format);
    av_image_fill_arrays(picture.planes, picture.strides, packet_->data, picture.format, picture.width,
                         picture.height, 1);
    picture.capturedAtUs =
        packet_->pts == AV_NOPTS_VALUE
            ? av_gettime()
            : av_rescale_q(packet_->pts, screen_->streams[0]->time_base, AVRational{1, 1'000'000});
    return true;
}

AVPixelFormat avFormatOf(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::bgrx:
            return AV_PIX_FMT_BGR0;
        case PixelLayout::bgra:
            return AV_PIX_FMT_BGRA;
        case PixelLayout::rgbx:
            return AV_PIX_FMT_RGB0;
        case PixelLayout::rgba:
            return AV_PIX_FMT_RGBA;
        case PixelLayout::xrgb:
            return AV_PIX_FMT_0RGB;
        case PixelLayout::xbgr:
            return AV_PIX_FMT_0BGR;
        case PixelLayout::argb:
            return AV_PIX_FMT_ARGB;
        case PixelLayout::abgr:
            return AV_PIX_FMT_ABGR;
        case PixelLayout::rgb:
            return AV_PIX_FMT_RGB24;
        case PixelLayout::bgr:
            return AV_PIX_FMT_BGR24;
    }
    return AV_PIX_FMT_NONE;
}

PortalScreenSource::PortalScreenSource(std::unique_ptr<PortalScreenCast> portal,
                                       std::unique_ptr<PipeWireCapture> capture, int fps,
                                       const std::atomic<bool>& stopping)
    : portal_(std::move(portal)), capture_(std::move(capture)), fps_(fps), stopping_(stopping) {}

PortalScreenSource::~PortalScreenSource() {
    capture_.reset();
    portal_.reset();
}

bool PortalScreenSource::peek(ScreenPicture& picture) {
    if (!capture_->copyNewest(newest_)) return false;
    describe(picture);
    return true;
}

bool PortalScreenSource::next(ScreenPicture& picture, std::string& error) {
    if (slot_ < 0) slot_ = std::max<std::int64_t>((av_gettime() - origin_) * fps_ / 1'000'000 + 1, 0);
    const std::int64_t due = origin_ + slot_ * 1'000'000 / fps_;
    for (std::int64_t now = av_gettime(); now < due && !stopping_; now = av_gettime())
        av_usleep(unsigned(std::min<std::int64_t>(due - now, 20'000)));
    if (stopping_) return false;
    const std::string failure = capture_->error();
    if (!failure.empty()) {
        error = failure;
        return false;
    }
    capture_->copyNewest(newest_);
    describe(picture);
    picture.capturedAtUs = due;
    ++slot_;
    return true;
}

PortalOpening openPortalScreen(const std::string& restoreToken, int dialogTimeoutMs, int fps,
                               const std::atomic<bool>& stopping, bool endWithSource) {
    PortalOpening opening;
    auto portal = std::make_unique<PortalScreenCast>();
    const PortalStart started = portal->start(restoreToken, dialogTimeoutMs);
    opening.status = started.status;
    if (started.status != PortalStart::Status::started) {
        opening.error = started.error;
        return opening;
    }
    opening.status = PortalStart::Status::failed;
    opening.restoreToken = started.restoreToken;
    std::unique_ptr<PipeWireCapture> capture;
    try {
        capture = std::make_unique<PipeWireCapture>(started.pipeWireFd, started.streams.front().nodeId,
                                                    endWithSource);
    } catch (const std::runtime_error& e) {
        opening.error = e.what();
        return opening;
    }
    if (!capture->waitForFirstPicture(10'000, opening.error)) return opening;
    opening.source =
        std::make_unique<PortalScreenSource>(std::move(portal), std::move(capture), fps, stopping);
    opening.status = PortalStart::Status::started;
    return opening;
}

void PortalScreenSource::describe(ScreenPicture& picture) const {
    picture.planes[0] = const_cast<std::uint8_t*>(newest_.pixels.data());
    picture.strides[0] = newest_.stride;
    picture.width = newest_.width;
    picture.height = newest_.height;
    picture.format = avFormatOf(newest_.layout);
}

}  // namespace vantry::platform::screen_recording
