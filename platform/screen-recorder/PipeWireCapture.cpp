#include "platform/screen-recorder/PipeWireCapture.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace vantry::platform {
namespace {

std::optional<PixelLayout> layoutOf(std::uint32_t format) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
            return PixelLayout::bgrx;
        case SPA_VIDEO_FORMAT_BGRA:
            return PixelLayout::bgra;
        case SPA_VIDEO_FORMAT_RGBx:
            return PixelLayout::rgbx;
        case SPA_VIDEO_FORMAT_RGBA:
            return PixelLayout::rgba;
        case SPA_VIDEO_FORMAT_xRGB:
            return PixelLayout::xrgb;
        case SPA_VIDEO_FORMAT_xBGR:
            return PixelLayout::xbgr;
        case SPA_VIDEO_FORMAT_ARGB:
            return PixelLayout::argb;
        case SPA_VIDEO_FORMAT_ABGR:
            return PixelLayout::abgr;
        case SPA_VIDEO_FORMAT_RGB:
            return PixelLayout::rgb;
        case SPA_VIDEO_FORMAT_BGR:
            return PixelLayout::bgr;
        default:
            return std::nullopt;
    }
}

int bytesPerPixel(PixelLayout layout) {
    return layout == PixelLayout::rgb || layout == PixelLayout::bgr ? 3 : 4;
}

}  // namespace

struct PipeWireCapture::Impl {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    // With endWithSource, the remote's registry, for the end of the node the stream reads: a
    // screen or window that goes away leaves a stream that merely waits, unless the node's
    // removal is noticed.
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    std::uint32_t nodeId = 0;

    // The negotiated format; PipeWire's thread only.
    std::optional<PixelLayout> layout;
    int width = 0;
    int height = 0;

    mutable std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    CapturedPicture newest;
    std::string error;

    void fail(std::string why) {
        std::lock_guard lock(mutex);
        if (error.empty()) error = std::move(why);
        changed.notify_all();
    }

    void onStateChanged(pw_stream_state state, const char* why) {
        if (state == PW_STREAM_STATE_ERROR)
            fail(std::string("the screen's PipeWire stream failed: ") + (why ? why : "unknown error"));
        if (state == PW_STREAM_STATE_UNCONNECTED) fail("the screen's PipeWire stream was disconnected");
    }

    void onParamChanged(std::uint32_t id, const spa_pod* param) {
        if (!param || id != SPA_PARAM_Format) return;
        std::uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        layout = layoutOf(info.format);
        width = int(info.size.width);
        height = int(info.size.height);
        if (!layout) {
            fail("the screen's PipeWire stream offers no RGB picture");
            return;
        }
        // Shared memory only: the pictures are read by the processor.
        std::uint8_t buffer[256];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, buffer, sizeof buffer);
        spa_pod_frame frame{};
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_dataType, 0);
        spa_pod_frame types{};
        spa_pod_builder_push_choice(&builder, &types, SPA_CHOICE_Flags, 0);
        spa_pod_builder_int(&builder, (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd));
        spa_pod_builder_pop(&builder, &types);
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame))};
        pw_stream_update_params(stream, params, 1);
    }

    void onProcess() {
        pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
        if (!buffer) return;
        spa_buffer* b = buffer->buffer;
        if (layout && b->n_datas > 0 && b->datas[0].data && b->datas[0].chunk &&
            !(b->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && b->datas[0].chunk->size > 0) {
            const spa_data& d = b->datas[0];
            const int rowBytes = width * bytesPerPixel(*layout);
            const int stride = d.chunk->stride > 0 ? d.chunk->stride : rowBytes;
            const std::uint32_t offset = d.chunk->offset % std::max<std::uint32_t>(d.maxsize, 1);
            const std::uint64_t needed = std::uint64_t(stride) * std::uint64_t(height - 1) + rowBytes;
            if (width > 0 && height > 0 && stride >= rowBytes && offset + needed <= d.maxsize) {
                const auto* source = static_cast<const std::uint8_t*>(d.data) + offset;
                std::lock_guard lock(mutex);
                newest.width = width;
                newest.height = height;
                newest.stride = rowBytes;
                newest.layout = *layout;
                newest.pixels.resize(std::size_t(rowBytes) * std::size_t(height));
                for (int y = 0; y < height; ++y)
                    std::memcpy(newest.pixels.data() + std::size_t(y) * rowBytes,
                                source + std::size_t(y) * std::size_t(stride), std::size_t(rowBytes));
                ++newest.serial;
                changed.notify_all();
            }
        }
        pw_stream_queue_buffer(stream, buffer);
    }

    static void stateChanged(void* data, pw_stream_state, pw_stream_state state, const char* why) {
        static_cast<Impl*>(data)->onStateChanged(state, why);
    }
    static void paramChanged(void* data, std::uint32_t id, const spa_pod* param) {
        static_cast<Impl*>(data)->onParamChanged(id, param);
    }
    static void process(void* data) { static_cast<Impl*>(data)->onProcess(); }
    static void globalRemoved(void* data, std::uint32_t id) {
        Impl* d = static_cast<Impl*>(data);
        if (id == d->nodeId) d->fail("the screen's PipeWire stream ended: its source went away");
    }

    void release() {
        if (loop) pw_thread_loop_stop(loop);
        if (registry) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        }
        if (stream) pw_stream_destroy(stream);
        if (core) pw_core_disconnect(core);
        if (context) pw_context_destroy(context);
        if (loop) pw_thread_loop_destroy(loop);
        registry = nullptr;
        stream = nullptr;
        core = nullptr;
        context = nullptr;
        loop = nullptr;
    }
};

PipeWireCapture::PipeWireCapture(int fd, std::uint32_t nodeId, bool endWithSource)
    : impl_(std::make_unique<Impl>()) {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Impl::stateChanged;
        e.param_changed = &Impl::paramChanged;
        e.process = &Impl::process;
        return e;
    }();

    Impl& d = *impl_;
    d.loop = pw_thread_loop_new("vantry-screen", nullptr);
    if (!d.loop) {
        ::close(fd);
        throw std::runtime_error("cannot start a PipeWire thread");
    }
    d.context = pw_context_new(pw_thread_loop_get_loop(d.loop), nullptr, 0);
    if (!d.context) {
        ::close(fd);
        d.release();
        throw std::runtime_error("cannot create a PipeWire context");
    }
    if (pw_thread_loop_start(d.loop) < 0) {
        ::close(fd);
        d.release();
        throw std::runtime_error("cannot start a PipeWire thread");
    }
    pw_thread_loop_lock(d.loop);
    d.core = pw_context_connect_fd(d.context, fd, nullptr, 0);  // owns fd from here, also on failure
    if (!d.core) {
        pw_thread_loop_unlock(d.loop);
        d.release();
        throw std::runtime_error("cannot connect to the screen cast's PipeWire remote");
    }
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global_remove = &Impl::globalRemoved;
        return e;
    }();
    d.nodeId = nodeId;
    if (endWithSource) d.registry = pw_core_get_registry(d.core, PW_VERSION_REGISTRY, 0);
    if (d.registry) pw_registry_add_listener(d.registry, &d.registryListener, &registryEvents, &d);
    d.stream = pw_stream_new(d.core, "Vantry screen recording",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                               PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!d.stream) {
        pw_thread_loop_unlock(d.loop);
        d.release();
        throw std::runtime_error("cannot create a PipeWire stream");
    }
    pw_stream_add_listener(d.stream, &d.streamListener, &events, &d);

    // Raw video in the RGB layouts this reader knows, any size and rate.
    std::uint8_t buffer[512];
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer, sizeof buffer);
    spa_pod_frame object{};
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_frame choice{};
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
    const std::uint32_t formats[] = {SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                     SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                     SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_ABGR,
                                     SPA_VIDEO_FORMAT_RGB,  SPA_VIDEO_FORMAT_BGR};
    for (std::uint32_t f : formats) spa_pod_builder_id(&builder, f);  // the first is the default
    spa_pod_builder_pop(&builder, &choice);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_rectangle(&builder, 1920, 1080);
    spa_pod_builder_rectangle(&builder, 1, 1);
    spa_pod_builder_rectangle(&builder, 16384, 16384);
    spa_pod_builder_pop(&builder, &choice);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_fraction(&builder, 30, 1);
    spa_pod_builder_fraction(&builder, 0, 1);
    spa_pod_builder_fraction(&builder, 1000, 1);
    spa_pod_builder_pop(&builder, &choice);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object))};

    const int rc = pw_stream_connect(
        d.stream, PW_DIRECTION_INPUT, nodeId,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    pw_thread_loop_unlock(d.loop);
    if (rc < 0) {
        d.release();
        throw std::runtime_error(std::string("cannot connect to the screen's PipeWire stream: ") +
                                 std::strerror(-rc));
    }
}

PipeWireCapture::~PipeWireCapture() {
    impl_->release();
}

bool PipeWireCapture::waitForFirstPicture(int timeoutMs, std::string& error) {
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return impl_->newest.serial > 0 || !impl_->error.empty(); });
    if (impl_->newest.serial > 0) return true;
    error = impl_->error.empty() ? "no picture arrived from the screen's PipeWire stream" : impl_->error;
    return false;
}

bool PipeWireCapture::copyNewest(CapturedPicture& out) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->newest.serial == 0) return false;
    if (out.serial == impl_->newest.serial) return true;
    out.width = impl_->newest.width;
    out.height = impl_->newest.height;
    out.stride = impl_->newest.stride;
    out.layout = impl_->newest.layout;
    out.serial = impl_->newest.serial;
    out.pixels.assign(impl_->newest.pixels.begin(), impl_->newest.pixels.end());
    return true;
}

std::string PipeWireCapture::error() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->error;
}

}  // namespace vantry::platform
