#include "platform/screen-recorder/ScreenCapture.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <atomic>
#include <utility>

#include "platform/media/PictureScaler.h"
#include "platform/screen-recorder/ScreenSource.h"

namespace vantry::platform {

using screen_recording::ScreenPicture;

struct ScreenCapture::Impl {
    // Before the source, which reads it until it goes.
    std::atomic<bool> stopping{false};
    std::unique_ptr<screen_recording::ScreenSource> source;
    ScreenPicture picture;
    std::string restoreToken;
    media::PictureScaler scaler{media::PictureScaler::Rounding::fast};
};

ScreenCapture::ScreenCapture(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ScreenCapture::~ScreenCapture() {
    stop();
    impl_->source.reset();
}

std::unique_ptr<ScreenCapture> ScreenCapture::open(const ScreenCaptureTarget& target, std::string& error,
                                                   OpenStatus* status) {
    if (status) *status = OpenStatus::failed;
    auto impl = std::make_unique<Impl>();
    if (target.kind == ScreenCaptureTarget::Kind::portal) {
        // A share ends with its source, rather than showing the last picture on and on.
        auto opened = screen_recording::openPortalScreen(target.restoreToken, target.dialogTimeoutMs,
                                                         target.fps, impl->stopping, /*endWithSource=*/true);
        if (opened.status == PortalStart::Status::cancelled) {
            if (status) *status = OpenStatus::cancelled;
            error = "the screen choice was cancelled";
            return nullptr;
        }
        if (!opened.source) {
            error = opened.error;
            return nullptr;
        }
        impl->restoreToken = opened.restoreToken;
        impl->source = std::move(opened.source);
    } else {
        const unsigned long window = target.kind == ScreenCaptureTarget::Kind::window ? target.windowId : 0;
        AVFormatContext* screen =
            screen_recording::openScreen(target.display, target.fps, &impl->stopping, error, window);
        if (!screen) return nullptr;
        impl->source = std::make_unique<screen_recording::X11ScreenSource>(screen);
    }
    if (status) *status = OpenStatus::opened;
    return std::unique_ptr<ScreenCapture>(new ScreenCapture(std::move(impl)));
}

bool ScreenCapture::next(std::string& error) {
    if (impl_->stopping) return false;
    return impl_->source->next(impl_->picture, error) && !impl_->stopping;
}

int ScreenCapture::width() const {
    return impl_->picture.width;
}

int ScreenCapture::height() const {
    return impl_->picture.height;
}

bool ScreenCapture::toBGRA(std::uint8_t* target, int stride, int width, int height) {
    const ScreenPicture& p = impl_->picture;
    if (p.width <= 0 || p.height <= 0 || p.format == AV_PIX_FMT_NONE || !p.planes[0]) return false;
    const media::PictureLayout from{p.width, p.height, p.format, AVCOL_SPC_RGB, true};
    const media::PictureLayout to{width, height, AV_PIX_FMT_BGRA, AVCOL_SPC_RGB, true};
    std::uint8_t* const planes[4] = {target, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    return impl_->scaler.scale(from, p.planes, p.strides, to, planes, strides);
}

void ScreenCapture::stop() {
    impl_->stopping = true;
}

const std::string& ScreenCapture::restoreToken() const {
    return impl_->restoreToken;
}

}  // namespace vantry::platform
