// The live stream's guard over blocking FFmpeg I/O: one operation at a time runs under a time
// limit, stop() cuts a connect short and leaves the closing writes a grace period, and a write
// that waits on the server is reported while it waits (a stall).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/time.h>
}

#include "platform/media/MediaRuntime.h"

namespace vantry::platform {

// One network operation (connect, a write, the closing write) that takes longer than
// this means the peer is gone.
inline constexpr std::int64_t kConnectLimitUs = 8'000'000;
inline constexpr std::int64_t kWriteLimitUs = 5'000'000;
// A write that has waited this long may mean a stalled server.
inline constexpr std::int64_t kStallWaitUs = 1'000'000;

class StreamWatchdog {
  public:
    std::atomic<bool> stopping{false};
    std::atomic<std::int64_t> stopDeadlineUs{0};
    std::atomic<bool> connectingNow{false};
    // Called on the sending thread, about as often as FFmpeg polls, while a write has waited
    // kStallWaitUs or longer.
    std::function<void(std::int64_t now)> whileWriteWaits;

    AVIOInterruptCB callback() { return AVIOInterruptCB{interrupt, this}; }

    // Runs one blocking FFmpeg operation under the limit; its code.
    template <class F>
    int guarded(std::int64_t limitUs, F&& operation, bool write = false) {
        ioLimitUs_ = limitUs;
        ioTimedOut_ = false;
        ioIsWrite_ = write;
        ioStartedUs_ = av_gettime_relative();
        const int rc = operation();
        ioStartedUs_ = 0;
        ioIsWrite_ = false;
        return rc;
    }

    bool idle() const { return ioStartedUs_ == 0; }

    // The reason an operation failed: its limit, or FFmpeg's text.
    std::string ioError(int rc) const {
        if (ioTimedOut_) return "no answer for " + std::to_string(int(ioLimitUs_ / 1'000'000)) + " s";
        return media::errorText(rc);
    }

  private:
    static int interrupt(void* opaque) {
        auto* self = static_cast<StreamWatchdog*>(opaque);
        const std::int64_t now = av_gettime_relative();
        if (self->stopping && (self->connectingNow || now > self->stopDeadlineUs)) return 1;
        const std::int64_t started = self->ioStartedUs_;
        if (started != 0 && now - started > self->ioLimitUs_) {
            self->ioTimedOut_ = true;
            return 1;
        }
        if (started != 0 && self->ioIsWrite_ && now - started >= kStallWaitUs && self->whileWriteWaits)
            self->whileWriteWaits(now);
        return 0;
    }

    std::atomic<std::int64_t> ioStartedUs_{0};
    std::atomic<std::int64_t> ioLimitUs_{kWriteLimitUs};
    std::atomic<bool> ioTimedOut_{false};
    std::atomic<bool> ioIsWrite_{false};
};

}  // namespace vantry::platform
