#include "platform/stream/StreamDestination.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
#include <libavutil/time.h>
}

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cmath>

#include "platform/stream/StreamConnection.h"

namespace vantry::platform {
namespace {

// A write that has waited kStallWaitUs while the server has taken nothing for kStallUs means a
// stalled server (a write alone, not a late one: a busy machine is no stalled server).
constexpr std::int64_t kStallUs = 1'500'000;
// A server that restarts is usually back within seconds: the first attempts come every second,
// then the pauses grow so that a server that stays away is not hammered.
constexpr double kRetryPauses[] = {1, 1, 1, 1, 1, 2, 4, 8, 16, 30};
constexpr double kRateWindowSeconds = 3;

double seconds(std::int64_t micros) {
    return double(micros) / 1e6;
}

// The pause before attempt `attempt` (from 1) to connect again.
double retryPause(int attempt) {
    return kRetryPauses[std::min<std::size_t>(std::size_t(attempt - 1), std::size(kRetryPauses) - 1)];
}

}  // namespace

StreamDestination::StreamDestination(const LiveStreamSettings& settings, LiveStreamTarget target,
                                     std::vector<std::string> secrets, Formats formats,
                                     std::function<void()> changed, std::function<void()> wantKeyFrame)
    : settings_(settings),
      target_(std::move(target)),
      secrets_(std::move(secrets)),
      formats_(formats),
      changed_(std::move(changed)),
      wantKeyFrame_(std::move(wantKeyFrame)),
      lastDeliveryUs_(av_gettime_relative()) {
    status_.shownAddress = target_.shownAddress;
    watchdog_.whileWriteWaits = [this](std::int64_t now) { whileWriteWaits(now); };
}

StreamDestination::~StreamDestination() {
    finish(av_gettime_relative());
    for (Queued& q : queue_) av_packet_free(&q.packet);
}

void StreamDestination::start() {
    thread_ = std::thread([this] { run(); });
}

LiveStreamDestinationStatus StreamDestination::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

bool StreamDestination::settled() const {
    std::lock_guard lock(mutex_);
    return everLive_ || status_.state == LiveStreamState::failed || status_.state == LiveStreamState::ended;
}

bool StreamDestination::everLive() const {
    std::lock_guard lock(mutex_);
    return everLive_;
}

template <class F>
void StreamDestination::update(F&& change) {
    {
        std::lock_guard lock(mutex_);
        change(status_);
        status_.message = redactStreamSecrets(status_.message, secrets_);
    }
    lastPublishUs_ = av_gettime_relative();
    if (changed_) changed_();
}

void StreamDestination::interrupt(std::int64_t deadlineUs) {
    {
        std::lock_guard lock(mutex_);
        if (!watchdog_.stopping) watchdog_.stopDeadlineUs = deadlineUs;
        watchdog_.stopping = true;
    }
    wake_.notify_all();
}

void StreamDestination::finish(std::int64_t deadlineUs) {
    interrupt(deadlineUs);
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void StreamDestination::push(const AVPacket* packet, bool video) {
    std::lock_guard lock(mutex_);
    if (!accepting_ || closed_) return;
    const bool key = video && (packet->flags & AV_PKT_FLAG_KEY);
    const AVRational videoBase = formats_.video->time_base;
    const AVRational base = video ? videoBase : formats_.audio->time_base;
    const std::int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    // Far behind the encoder: what waits is lost, and sending picks up at the next key frame.
    if (!queue_.empty() && dts != AV_NOPTS_VALUE &&
        double(dts) * av_q2d(base) - queue_.front().seconds > kDestinationQueueSeconds) {
        status_.packetsDropped += std::int64_t(queue_.size());
        for (Queued& q : queue_) av_packet_free(&q.packet);
        queue_.clear();
        needKeyFrame_ = true;
    }
    if (needKeyFrame_ && !key) {
        if (offsetKnown_) ++status_.packetsDropped;
        return;
    }
    if (key && needKeyFrame_) {
        needKeyFrame_ = false;
        // A fresh connection's clock starts at its first picture.
        if (!offsetKnown_) {
            offsetKnown_ = true;
            videoOffset_ = dts;
            audioOffset_ = formats_.audio ? av_rescale_q(dts, videoBase, formats_.audio->time_base) : 0;
        }
    }
    const std::int64_t offset = video ? videoOffset_ : audioOffset_;
    if (offset > 0 && dts != AV_NOPTS_VALUE && dts < offset) return;  // sound from before it
    // A copy of its own: the encoder's buffers are never shared with another thread.
    AVPacket* copy = av_packet_alloc();
    if (!copy || av_new_packet(copy, packet->size) < 0 || av_packet_copy_props(copy, packet) < 0) {
        av_packet_free(&copy);
        return;
    }
    std::copy_n(packet->data, packet->size, copy->data);
    if (copy->pts != AV_NOPTS_VALUE) copy->pts -= offset;
    if (copy->dts != AV_NOPTS_VALUE) copy->dts -= offset;
    queue_.push_back(Queued{copy, video, dts == AV_NOPTS_VALUE ? 0 : double(dts) * av_q2d(base)});
    wake_.notify_all();
}

std::string StreamDestination::connect(bool& lasting) {
    std::string error;
    connection_ =
        StreamConnection::open(settings_, target_, formats_.video, formats_.audio, watchdog_, error, lasting);
    if (connection_) {
        std::lock_guard lock(mutex_);
        accepting_ = true;
        needKeyFrame_ = true;
        offsetKnown_ = false;
    }
    if (connection_ && wantKeyFrame_) wantKeyFrame_();
    return error;
}

void StreamDestination::disconnect(bool orderly) {
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
        for (Queued& q : queue_) av_packet_free(&q.packet);
        queue_.clear();
    }
    if (!connection_) return;
    if (orderly && connection_->finish()) bytesDelivered_ = bytesBefore_ + connection_->bytesOut();
    bytesBefore_ = bytesDelivered_;
    // Closing flushes the output buffer, which may wait on a dead peer too.
    watchdog_.guarded(kWriteLimitUs, [&] {
        connection_.reset();
        return 0;
    });
}

// A write waits on the server: once it has taken nothing for a while the destination is
// stalled, and the status says so (each second) until the write ends either way.
void StreamDestination::whileWriteWaits(std::int64_t now) {
    if (!connection_ || now - lastDeliveryUs_ < kStallUs) return;
    const bool entering = !stalled_;
    if (!entering && now - lastPublishUs_ < 1'000'000) return;
    stalled_ = true;
    noteBytes(now);
    update([&](LiveStreamDestinationStatus& s) {
        if (s.state == LiveStreamState::live) s.state = LiveStreamState::stalled;
        s.measuredBitRate = measuredRate();
        s.secondsWithoutDelivery = seconds(now - lastDeliveryUs_);
    });
}

// Takes in what the completed writes delivered (all of it, when no write waits).
void StreamDestination::noteBytes(std::int64_t now) {
    if (connection_ && watchdog_.idle()) {
        const std::int64_t total = bytesBefore_ + connection_->bytesOut();
        if (total > bytesDelivered_) {
            bytesDelivered_ = total;
            lastDeliveryUs_ = now;
        }
    }
    rateSamples_.emplace_back(now, bytesDelivered_);
    while (rateSamples_.size() > 2 && seconds(now - rateSamples_.front().first) > kRateWindowSeconds)
        rateSamples_.pop_front();
}

double StreamDestination::measuredRate() const {
    if (rateSamples_.size() < 2) return 0;
    const auto& [t0, b0] = rateSamples_.front();
    const auto& [t1, b1] = rateSamples_.back();
    return t1 > t0 ? double(b1 - b0) * 8 / seconds(t1 - t0) : 0;
}

// Writes queued packets until no more come (empty) or a write fails (its reason).
std::string StreamDestination::sendQueued() {
    rateSamples_.clear();
    noteBytes(av_gettime_relative());
    while (true) {
        Queued next{};
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return !queue_.empty() || closed_; });
            if (queue_.empty()) return {};
            next = queue_.front();
            queue_.pop_front();
        }
        std::string error = connection_->write(next.packet, next.video);
        av_packet_free(&next.packet);
        if (!error.empty()) return error;
        const std::int64_t after = av_gettime_relative();
        noteBytes(after);
        const bool resumed = stalled_ && after == lastDeliveryUs_;
        if (resumed) stalled_ = false;
        {
            std::lock_guard lock(mutex_);
            status_.measuredBitRate = measuredRate();
            status_.bytesDelivered = bytesDelivered_;
            status_.secondsWithoutDelivery = seconds(after - lastDeliveryUs_);
            if (resumed) status_.state = LiveStreamState::live;
        }
        if (resumed) update([](LiveStreamDestinationStatus&) {});
    }
}

// Waits `pauseSeconds` (telling the time left each second); false when stopped.
bool StreamDestination::waitToRetry(double pauseSeconds) {
    const std::int64_t until = av_gettime_relative() + std::int64_t(pauseSeconds * 1e6);
    while (true) {
        const std::int64_t left = until - av_gettime_relative();
        if (left <= 0) return !watchdog_.stopping;
        update([&](LiveStreamDestinationStatus& s) {
            s.retryInSeconds = std::ceil(seconds(left));
            s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs_);
        });
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::microseconds(std::min<std::int64_t>(left, 1'000'000)),
                           [&] { return watchdog_.stopping.load(); }))
            return false;
    }
}

void StreamDestination::run() {
    // A peer that closes its socket must end a write with an error, not the process.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    const std::string shown = target_.shownAddress;
    // A server that is not up yet (refused, silent) is tried again as a lost one is, while the
    // stream stays connecting; only what trying again cannot mend fails it.
    bool lasting = false;
    std::string error = connect(lasting);
    for (int attempt = 1; !error.empty(); ++attempt) {
        const bool stopped = watchdog_.stopping;
        const std::string message = "Could not connect to " + shown + ": " + error;
        if (stopped || lasting || target_.kind == "v4l2") {
            update([&](LiveStreamDestinationStatus& s) {
                s.state = stopped ? LiveStreamState::ended : LiveStreamState::failed;
                s.retryInSeconds = 0;
                if (!stopped) s.message = message;
            });
            return;
        }
        const double pause = retryPause(attempt);
        update([&](LiveStreamDestinationStatus& s) {
            s.state = LiveStreamState::connecting;
            s.reconnectAttempt = attempt;
            s.retryInSeconds = pause;
            s.message = message;
        });
        if (!waitToRetry(pause)) {
            update([&](LiveStreamDestinationStatus& s) {
                s.state = LiveStreamState::ended;
                s.retryInSeconds = 0;
                s.message.clear();
            });
            return;
        }
        error = connect(lasting);
    }
    liveSinceUs_ = av_gettime_relative();
    const auto setLive = [&] {
        stalled_ = false;
        {
            std::lock_guard lock(mutex_);
            everLive_ = true;
        }
        update([&](LiveStreamDestinationStatus& s) {
            s.state = LiveStreamState::live;
            s.reconnectAttempt = 0;
            s.retryInSeconds = 0;
            s.message.clear();
        });
    };
    setLive();
    while (true) {
        error = sendQueued();
        if (error.empty()) break;  // no more packets
        disconnect(false);
        if (watchdog_.stopping) break;
        if (target_.kind == "v4l2") {
            update([&](LiveStreamDestinationStatus& s) {
                s.state = LiveStreamState::ended;
                s.message = "The virtual camera " + shown + " stopped taking pictures: " + error;
            });
            return;
        }
        std::string message = "Connection to " + shown + " lost: " + error;
        bool back = false;
        for (int attempt = 1; !watchdog_.stopping; ++attempt) {
            const double pause = retryPause(attempt);
            update([&](LiveStreamDestinationStatus& s) {
                s.state = LiveStreamState::reconnecting;
                s.reconnectAttempt = attempt;
                s.retryInSeconds = pause;
                s.measuredBitRate = 0;
                s.bytesDelivered = bytesDelivered_;
                s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs_);
                s.message = message;
            });
            if (!waitToRetry(pause)) break;
            error = connect(lasting);
            if (error.empty()) {
                setLive();
                back = true;
                break;
            }
            message = "Could not reconnect to " + shown + ": " + error;
        }
        if (!back) break;
    }
    disconnect(true);
    update([&](LiveStreamDestinationStatus& s) {
        s.state = LiveStreamState::ended;
        s.retryInSeconds = 0;
        s.bytesDelivered = bytesDelivered_;
        s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs_);
        s.message.clear();
    });
}

}  // namespace vantry::platform
