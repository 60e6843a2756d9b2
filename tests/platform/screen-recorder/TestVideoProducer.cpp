#include "tests/platform/screen-recorder/TestVideoProducer.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace vantry::testing {

struct TestVideoProducer::Impl {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_source* timer = nullptr;
    spa_hook listener{};
    int tick = 0;

    void fill(std::uint8_t* pixels, int stride) {
        const std::uint8_t shade = std::uint8_t((tick * 9) % 200 + 30);
        const int bar = (tick * 7) % (kWidth - 40);  // always whole on the picture
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = pixels + std::size_t(y) * std::size_t(stride);
            for (int x = 0; x < kWidth; ++x) {
                const bool white = x >= bar && x < bar + 40;
                row[x * 4 + 0] = white ? 255 : shade;                      // B
                row[x * 4 + 1] = white ? 255 : std::uint8_t(255 - shade);  // G
                row[x * 4 + 2] = white ? 255 : 40;                         // R
                row[x * 4 + 3] = 255;
            }
        }
        ++tick;
    }

    static void process(void* data) {
        auto* self = static_cast<Impl*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(self->stream);
        if (!b) return;
        spa_data& d = b->buffer->datas[0];
        const int stride = kWidth * 4;
        if (d.data && d.maxsize >= std::uint32_t(stride * kHeight)) {
            self->fill(static_cast<std::uint8_t*>(d.data), stride);
            d.chunk->offset = 0;
            d.chunk->stride = stride;
            d.chunk->size = std::uint32_t(stride * kHeight);
        }
        pw_stream_queue_buffer(self->stream, b);
    }

    static void paramChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto* self = static_cast<Impl*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        std::uint8_t buffer[256];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, buffer, sizeof buffer);
        spa_pod_frame frame{};
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_buffers, 0);
        spa_pod_builder_int(&builder, 4);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_blocks, 0);
        spa_pod_builder_int(&builder, 1);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_size, 0);
        spa_pod_builder_int(&builder, kWidth * 4 * kHeight);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_stride, 0);
        spa_pod_builder_int(&builder, kWidth * 4);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_dataType, 0);
        spa_pod_builder_int(&builder, 1 << SPA_DATA_MemFd);
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame))};
        pw_stream_update_params(self->stream, params, 1);
    }

    static void onTimer(void* data, std::uint64_t) {
        auto* self = static_cast<Impl*>(data);
        pw_stream_trigger_process(self->stream);
    }
};

std::unique_ptr<TestVideoProducer> TestVideoProducer::start(std::string& why) {
    pw_init(nullptr, nullptr);
    std::unique_ptr<TestVideoProducer> producer(new TestVideoProducer);
    producer->impl_ = std::make_unique<Impl>();
    Impl& d = *producer->impl_;
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.param_changed = &Impl::paramChanged;
        e.process = &Impl::process;
        return e;
    }();
    d.loop = pw_thread_loop_new("test-video", nullptr);
    d.context = pw_context_new(pw_thread_loop_get_loop(d.loop), nullptr, 0);
    pw_thread_loop_start(d.loop);
    pw_thread_loop_lock(d.loop);
    d.core = pw_context_connect(d.context, nullptr, 0);
    if (!d.core) {
        pw_thread_loop_unlock(d.loop);
        why = "cannot reach the PipeWire daemon";
        return nullptr;
    }
    d.stream = pw_stream_new(d.core, "test screen",
                             pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                               PW_KEY_MEDIA_CATEGORY, "Source", nullptr));
    pw_stream_add_listener(d.stream, &d.listener, &events, &d);
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
    spa_pod_builder_id(&builder, SPA_VIDEO_FORMAT_BGRx);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_rectangle(&builder, kWidth, kHeight);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_fraction(&builder, 30, 1);
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object))};
    const int rc = pw_stream_connect(
        d.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    // Pictures at 30 per second, whether anyone reads them or not.
    d.timer = pw_loop_add_timer(pw_thread_loop_get_loop(d.loop), &Impl::onTimer, &d);
    timespec first{0, 1}, every{0, 33'333'333};
    pw_loop_update_timer(pw_thread_loop_get_loop(d.loop), d.timer, &first, &every, false);
    pw_thread_loop_unlock(d.loop);
    if (rc < 0) {
        why = "cannot publish the test video stream";
        return nullptr;
    }
    for (int i = 0; i < 500; ++i) {
        pw_thread_loop_lock(d.loop);
        producer->nodeId_ = pw_stream_get_node_id(d.stream);
        pw_thread_loop_unlock(d.loop);
        if (producer->nodeId_ != SPA_ID_INVALID) return producer;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    why = "the test video stream got no node";
    return nullptr;
}

TestVideoProducer::~TestVideoProducer() {
    if (!impl_ || !impl_->loop) return;
    pw_thread_loop_stop(impl_->loop);
    if (impl_->timer) pw_loop_destroy_source(pw_thread_loop_get_loop(impl_->loop), impl_->timer);
    if (impl_->stream) pw_stream_destroy(impl_->stream);
    if (impl_->core) pw_core_disconnect(impl_->core);
    if (impl_->context) pw_context_destroy(impl_->context);
    pw_thread_loop_destroy(impl_->loop);
}

}  // namespace vantry::testing
