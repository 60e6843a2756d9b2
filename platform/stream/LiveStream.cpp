// The sending thread of a live stream: wall-clock frame slots, reconnection and the status
// line. Each connection (muxer and encoders) is a StreamConnection; blocking I/O runs under the
// StreamWatchdog.
#include "platform/stream/LiveStream.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/media/MediaRuntime.h"
#include "platform/stream/StreamConnection.h"
#include "platform/stream/StreamMicrophone.h"
#include "platform/stream/StreamWatchdog.h"

namespace vantry::platform {
namespace {

constexpr int kSampleRate = media::kSampleRate;
// A write that has waited kStallWaitUs while the server has taken nothing for kStallUs means a
// stalled server (a write alone, not a late one: a busy machine is no stalled server).
constexpr std::int64_t kStallUs = 1'500'000;
// After stop(), the last packets and the trailer get this long.
constexpr std::int64_t kStopGraceUs = 2'000'000;
constexpr double kRetryPauses[] = {1, 2, 4, 8, 16, 30};
constexpr double kRateWindowSeconds = 3;

double seconds(std::int64_t micros) {
    return double(micros) / 1e6;
}

}  // namespace

struct LiveStream::Impl {
    LiveStreamSettings settings;
    LiveStreamTarget target;
    StatusCallback onStatus;
    std::vector<std::string> secrets;  // of the address, for messages
    media::LogSecrets registration;    // the same, for FFmpeg's log
    media::H264Backend backend = media::H264Backend::x264;

    mutable std::mutex mutex;
    std::condition_variable wake;
    LiveStreamStatus status;            // under mutex
    std::vector<std::uint8_t> offered;  // newest picture handed in, packed BGRA; under mutex
    bool offeredFresh = false;          // under mutex: no slot has taken it yet

    StreamWatchdog watchdog;
    std::atomic<bool>& stopping = watchdog.stopping;
    std::mutex stopMutex;
    std::thread thread;

    // The sending thread's own.
    std::unique_ptr<StreamConnection> connection;
    std::unique_ptr<StreamMicrophone> microphone;
    std::vector<std::uint8_t> picture;  // the picture being encoded, packed BGRA
    AVFrame* yuv = nullptr;
    SwsContext* scaler = nullptr;
    std::int64_t liveSinceUs = 0;
    std::int64_t bytesBefore = 0;     // delivered over earlier connections
    std::int64_t bytesDelivered = 0;  // in all: written out by a completed write
    std::int64_t lastDeliveryUs = 0;  // when bytesDelivered last grew (or the start)
    bool stalled = false;             // the server stopped taking data mid-write
    std::deque<std::pair<std::int64_t, std::int64_t>> rateSamples;  // (time, total bytes)
    std::int64_t lastPublishUs = 0;

    Impl(LiveStreamSettings s, StatusCallback cb)
        : settings(std::move(s)),
          onStatus(std::move(cb)),
          secrets(liveStreamSecrets(settings.url, settings.streamKey)),
          registration(secrets),
          lastDeliveryUs(av_gettime_relative()) {
        watchdog.whileWriteWaits = [this](std::int64_t now) { whileWriteWaits(now); };
    }

    ~Impl() {
        av_frame_free(&yuv);
        sws_freeContext(scaler);
    }

    std::string redact(const std::string& text) const { return redactStreamSecrets(text, secrets); }

    // A write waits on the server: once it has taken nothing for a while the stream is
    // stalled, and the status says so (each second) until the write ends either way.
    void whileWriteWaits(std::int64_t now) {
        if (!connection || now - lastDeliveryUs < kStallUs) return;
        const bool entering = !stalled;
        if (!entering && now - lastPublishUs < 1'000'000) return;
        stalled = true;
        noteBytes(now);
        update([&](LiveStreamStatus& s) {
            if (s.state == LiveStreamState::live) s.state = LiveStreamState::stalled;
            s.measuredBitRate = measuredRate();
            s.secondsWithoutDelivery = seconds(now - lastDeliveryUs);
            s.elapsedSeconds = seconds(now - liveSinceUs);
        });
    }

    // ---- status

    void publish() {
        LiveStreamStatus copy;
        {
            std::lock_guard lock(mutex);
            copy = status;
        }
        lastPublishUs = av_gettime_relative();
        if (onStatus) onStatus(copy);
    }

    template <class F>
    void update(F&& change) {
        {
            std::lock_guard lock(mutex);
            change(status);
            status.message = redact(status.message);
        }
        publish();
    }

    // ---- connection

    // Opens a fresh connection; the reason on failure.
    std::string connect() {
        std::string error;
        connection = StreamConnection::open(settings, target, backend, watchdog, error);
        return error;
    }

    // Closes the connection; with `orderly`, sends what the encoders hold and the trailer.
    void disconnect(bool orderly) {
        if (!connection) return;
        if (orderly && connection->finish()) bytesDelivered = bytesBefore + connection->bytesOut();
        bytesBefore = bytesDelivered;
        // Closing flushes the output buffer, which may wait on a dead peer too.
        watchdog.guarded(kWriteLimitUs, [&] {
            connection.reset();
            return 0;
        });
    }

    // ---- frames

    // Takes the newest picture into the YUV frame; false when the slot repeats the last one.
    bool takePicture() {
        {
            std::lock_guard lock(mutex);
            if (!offeredFresh) return false;
            picture.swap(offered);
            offeredFresh = false;
        }
        if (av_frame_make_writable(yuv) < 0) return true;
        const std::uint8_t* src[1] = {picture.data()};
        const int srcStride[1] = {settings.width * 4};
        sws_scale(scaler, src, srcStride, 0, settings.height, yuv->data, yuv->linesize);
        return true;
    }

    // Takes in what the completed writes delivered (all of it, when no write waits).
    void noteBytes(std::int64_t now) {
        if (connection && watchdog.idle()) {
            const std::int64_t total = bytesBefore + connection->bytesOut();
            if (total > bytesDelivered) {
                bytesDelivered = total;
                lastDeliveryUs = now;
            }
        }
        rateSamples.emplace_back(now, bytesDelivered);
        while (rateSamples.size() > 2 && seconds(now - rateSamples.front().first) > kRateWindowSeconds)
            rateSamples.pop_front();
    }

    double measuredRate() const {
        if (rateSamples.size() < 2) return 0;
        const auto& [t0, b0] = rateSamples.front();
        const auto& [t1, b1] = rateSamples.back();
        return t1 > t0 ? double(b1 - b0) * 8 / seconds(t1 - t0) : 0;
    }

    // Sends frame slots on the open connection until stop() or a failed write (its reason).
    std::string streamSlots() {
        const std::int64_t start = av_gettime_relative();
        const std::int64_t fps = settings.fps;
        std::int64_t slot = 0, samplesSent = 0;
        rateSamples.clear();
        noteBytes(start);
        while (true) {
            const std::int64_t due = start + slot * 1'000'000 / fps;
            {
                std::unique_lock lock(mutex);
                wake.wait_for(
                    lock, std::chrono::microseconds(std::max<std::int64_t>(due - av_gettime_relative(), 0)),
                    [&] { return stopping.load(); });
                if (stopping) return {};
            }
            const std::int64_t now = av_gettime_relative();
            // Late by more than a slot: leave the missed slots out rather than queue up.
            const std::int64_t current = (now - start) * fps / 1'000'000;
            std::int64_t skipped = 0;
            if (current > slot) {
                skipped = current - slot;
                slot = current;
            }
            const bool fresh = takePicture();
            if (std::string error = connection->sendVideo(yuv, slot); !error.empty()) return error;
            if (std::string error =
                    connection->sendAudio(samplesSent, (slot + 1) * kSampleRate / fps, microphone.get());
                !error.empty())
                return error;
            ++slot;
            const std::int64_t after = av_gettime_relative();
            noteBytes(after);
            const bool resumed = stalled && after == lastDeliveryUs;
            if (resumed) stalled = false;
            {
                std::lock_guard lock(mutex);
                ++status.framesSent;
                if (!fresh) ++status.framesRepeated;
                status.framesSkipped += skipped;
                status.elapsedSeconds = seconds(after - liveSinceUs);
                status.measuredBitRate = measuredRate();
                status.bytesDelivered = bytesDelivered;
                status.secondsWithoutDelivery = seconds(after - lastDeliveryUs);
                if (resumed) status.state = LiveStreamState::live;
            }
            if (resumed || after - lastPublishUs >= 1'000'000) publish();
        }
    }

    // Waits `pauseSeconds` (telling the time left each second); false when stopped.
    bool waitToRetry(double pauseSeconds) {
        const std::int64_t until = av_gettime_relative() + std::int64_t(pauseSeconds * 1e6);
        while (true) {
            const std::int64_t left = until - av_gettime_relative();
            if (left <= 0) return !stopping;
            {
                std::lock_guard lock(mutex);
                status.retryInSeconds = std::ceil(seconds(left));
                if (liveSinceUs) status.elapsedSeconds = seconds(av_gettime_relative() - liveSinceUs);
                status.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs);
            }
            publish();
            std::unique_lock lock(mutex);
            if (wake.wait_for(lock, std::chrono::microseconds(std::min<std::int64_t>(left, 1'000'000)),
                              [&] { return stopping.load(); }))
                return false;
        }
    }

    void setLive() {
        stalled = false;
        update([&](LiveStreamStatus& s) {
            s.state = LiveStreamState::live;
            s.reconnectAttempt = 0;
            s.retryInSeconds = 0;
            s.message.clear();
        });
    }

    void run() {
        // A peer that closes its socket must end a write with an error, not the process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

        if (settings.captureMicrophone && target.kind != "v4l2")
            microphone = std::make_unique<StreamMicrophone>(stopping);
        const std::string shown = target.shownAddress;
        std::string error = connect();
        if (!error.empty()) {
            const bool stopped = stopping;
            update([&](LiveStreamStatus& s) {
                s.state = stopped ? LiveStreamState::ended : LiveStreamState::failed;
                if (!stopped) s.message = "Could not connect to " + shown + ": " + error;
            });
            microphone.reset();
            return;
        }
        liveSinceUs = av_gettime_relative();
        setLive();
        while (!stopping) {
            error = streamSlots();
            if (stopping) break;
            disconnect(false);
            if (target.kind == "v4l2") {
                update([&](LiveStreamStatus& s) {
                    s.state = LiveStreamState::ended;
                    s.message = "The virtual camera " + shown + " stopped taking pictures: " + error;
                });
                microphone.reset();
                return;
            }
            std::string message = "Connection to " + shown + " lost: " + error;
            for (int attempt = 1; !stopping; ++attempt) {
                const double pause =
                    kRetryPauses[std::min<std::size_t>(attempt - 1, std::size(kRetryPauses) - 1)];
                update([&](LiveStreamStatus& s) {
                    s.state = LiveStreamState::reconnecting;
                    s.reconnectAttempt = attempt;
                    s.retryInSeconds = pause;
                    s.measuredBitRate = 0;
                    s.bytesDelivered = bytesDelivered;
                    s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs);
                    s.message = message;
                });
                if (!waitToRetry(pause)) break;
                error = connect();
                if (error.empty()) {
                    setLive();
                    break;
                }
                message = "Could not reconnect to " + shown + ": " + error;
            }
        }
        disconnect(true);
        microphone.reset();
        update([&](LiveStreamStatus& s) {
            s.state = LiveStreamState::ended;
            s.retryInSeconds = 0;
            s.bytesDelivered = bytesDelivered;
            s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs);
            s.message.clear();
        });
    }
};

LiveStream::LiveStream(LiveStreamSettings settings, StatusCallback onStatus) {
    {
        if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
            settings.width > 7680 || settings.height > 4320)
            throw LiveStreamError("The stream size must be even and at most 7680x4320");
        if (settings.fps < 1 || settings.fps > 120) throw LiveStreamError("The frame rate must be 1 to 120");
        if (!isStreamVideoBitRate(settings.videoBitRate))
            throw LiveStreamError("The video bit rate must be 0.1 to 50 Mbit/s");
        if (settings.audioBitRate < 32'000 || settings.audioBitRate > 512'000)
            throw LiveStreamError("The audio bit rate must be 32 to 512 kbit/s");
        if (!(settings.keyFrameSeconds > 0 && settings.keyFrameSeconds <= 60))
            throw LiveStreamError("The key frame interval must be above 0 and at most 60 s");
        const LiveStreamTarget target = liveStreamTarget(settings.url, settings.streamKey);
        media::H264Backend backend = media::H264Backend::x264;
        try {
            if (target.kind != "v4l2") backend = media::pickH264(settings.encoder);
        } catch (const media::MediaError& e) {
            throw LiveStreamError(e.what());
        }
        impl_ = std::make_unique<Impl>(std::move(settings), std::move(onStatus));
        impl_->target = target;
        impl_->backend = backend;
    }
    Impl& s = *impl_;
    s.status.state = LiveStreamState::connecting;
    s.offered.resize(std::size_t(s.settings.width) * s.settings.height * 4);
    s.picture.resize(s.offered.size());
    s.yuv = av_frame_alloc();
    s.yuv->format = AV_PIX_FMT_YUV420P;
    s.yuv->width = s.settings.width;
    s.yuv->height = s.settings.height;
    s.scaler = sws_getContext(s.settings.width, s.settings.height, AV_PIX_FMT_BGRA, s.settings.width,
                              s.settings.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!s.scaler || av_frame_get_buffer(s.yuv, 0) < 0) throw LiveStreamError("Out of memory for the stream");
    // Black until the first picture arrives.
    const std::ptrdiff_t lines[4] = {s.yuv->linesize[0], s.yuv->linesize[1], s.yuv->linesize[2], 0};
    av_image_fill_black(s.yuv->data, lines, AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, s.settings.width,
                        s.settings.height);
    s.thread = std::thread([&s] { s.run(); });
}

LiveStream::~LiveStream() {
    stop();
}

void LiveStream::offerBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride) {
    Impl& s = *impl_;
    const std::size_t row = std::size_t(s.settings.width) * 4;
    std::lock_guard lock(s.mutex);
    if (s.offeredFresh && s.status.state == LiveStreamState::live) ++s.status.framesDropped;
    for (int y = 0; y < s.settings.height; ++y)
        std::copy_n(pixels + stride * y, row, s.offered.data() + row * std::size_t(y));
    s.offeredFresh = true;
}

void LiveStream::stop() {
    Impl& s = *impl_;
    std::lock_guard stopLock(s.stopMutex);
    {
        std::lock_guard lock(s.mutex);
        if (!s.stopping) s.watchdog.stopDeadlineUs = av_gettime_relative() + kStopGraceUs;
        s.stopping = true;
    }
    s.wake.notify_all();
    if (s.thread.joinable()) s.thread.join();
}

LiveStreamStatus LiveStream::status() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->status;
}

const LiveStreamSettings& LiveStream::settings() const {
    return impl_->settings;
}

}  // namespace vantry::platform
