#include "platform/stream/LiveStream.h"

namespace vantry::platform {

const char* const kVirtualCameraHint =
    "No virtual camera device: install v4l2loopback-dkms and run "
    "\"sudo modprobe v4l2loopback video_nr=10 card_label=\\\"Vantry Pro\\\" exclusive_caps=1\"";

std::string liveStreamKind(const std::string& url) {
    for (const char* scheme : {"rtmp", "rtmps", "srt"}) {
        const std::string prefix = std::string(scheme) + "://";
        if (url.rfind(prefix, 0) == 0 && url.size() > prefix.size()) return scheme;
    }
    if (url.rfind("/dev/video", 0) == 0) return "v4l2";
    throw LiveStreamError("'" + url + "' is not an rtmp://, rtmps:// or srt:// address");
}

std::vector<std::string> virtualCameraDevices() { return {}; }

struct LiveStream::Impl {
    LiveStreamSettings settings;
    LiveStreamStatus status;
};

LiveStream::LiveStream(LiveStreamSettings settings, StatusCallback) : impl_(std::make_unique<Impl>()) {
    impl_->settings = std::move(settings);
    throw LiveStreamError("live streaming is not available in this build");
}

LiveStream::~LiveStream() = default;
void LiveStream::offerBGRA(const std::uint8_t*, std::ptrdiff_t) {}
void LiveStream::stop() {}
LiveStreamStatus LiveStream::status() const { return impl_->status; }
const LiveStreamSettings& LiveStream::settings() const { return impl_->settings; }

}  // namespace vantry::platform
