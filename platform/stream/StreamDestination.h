// One destination of a live stream: its own connection, its own bounded queue of the encoded
// packets, its own sending thread, reconnection and status. The encoder only ever appends to
// the queue; a destination that falls behind loses what it queued (and starts again at the
// next key frame) rather than hold up the encoder or the other destinations.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/stream/LiveStream.h"
#include "platform/stream/StreamWatchdog.h"

struct AVCodecContext;
struct AVPacket;

namespace vantry::platform {

class StreamConnection;

// Queued media a destination may fall behind by before it loses its queue.
inline constexpr double kDestinationQueueSeconds = 4.0;

class StreamDestination {
  public:
    struct Formats {
        const AVCodecContext* video = nullptr;
        const AVCodecContext* audio = nullptr;  // null: no sound
    };
    // `changed` is called (from this destination's thread) on each state change and about
    // once a second while it waits or stalls; `wantKeyFrame` when a fresh connection waits for
    // a key frame to start with. `secrets` are blanked out of its messages.
    StreamDestination(const LiveStreamSettings& settings, LiveStreamTarget target,
                      std::vector<std::string> secrets, Formats formats, std::function<void()> changed,
                      std::function<void()> wantKeyFrame);
    ~StreamDestination();  // finish(now)
    StreamDestination(const StreamDestination&) = delete;
    StreamDestination& operator=(const StreamDestination&) = delete;

    // Starts the thread, which makes the first connection (trying again, as after a lost one,
    // while the server refuses or does not answer).
    void start();
    // The encoder's thread: one packet for this destination. Never waits on the network.
    void push(const AVPacket* packet, bool video);
    // No more packets: the thread sends what is queued (until `deadlineUs`, av_gettime_relative
    // time, for writes the server leaves unanswered), the trailer, and ends.
    void finish(std::int64_t deadlineUs);
    // Ends any connecting or waiting at once; finish() still follows.
    void interrupt(std::int64_t deadlineUs);

    LiveStreamDestinationStatus status() const;
    // Connected at least once, or done: failed, or (a device) ended.
    bool settled() const;
    bool everLive() const;

  private:
    void run();
    std::string connect(bool& lasting);
    void disconnect(bool orderly);
    std::string sendQueued();
    bool waitToRetry(double pauseSeconds);
    void whileWriteWaits(std::int64_t now);
    void noteBytes(std::int64_t now);
    double measuredRate() const;
    template <class F>
    void update(F&& change);

    const LiveStreamSettings& settings_;
    const LiveStreamTarget target_;
    const std::vector<std::string> secrets_;
    const Formats formats_;
    const std::function<void()> changed_;
    const std::function<void()> wantKeyFrame_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    LiveStreamDestinationStatus status_;  // under mutex_
    struct Queued {
        AVPacket* packet;
        bool video;
        double seconds;  // its decoding time
    };
    std::deque<Queued> queue_;      // under mutex_
    bool accepting_ = false;        // under mutex_: connected, taking packets
    bool needKeyFrame_ = true;      // under mutex_: packets wait for the next key frame
    bool offsetKnown_ = false;      // under mutex_: this connection's clock has started
    std::int64_t videoOffset_ = 0;  // under mutex_: subtracted, in the video time base
    std::int64_t audioOffset_ = 0;  // under mutex_: the same moment in the sound's
    bool closed_ = false;           // under mutex_: no more packets come
    bool everLive_ = false;         // under mutex_

    StreamWatchdog watchdog_;
    std::thread thread_;

    // The destination thread's own.
    std::unique_ptr<StreamConnection> connection_;
    std::int64_t bytesBefore_ = 0;     // delivered over earlier connections
    std::int64_t bytesDelivered_ = 0;  // in all: written out by a completed write
    std::int64_t lastDeliveryUs_ = 0;  // when bytesDelivered_ last grew (or the start)
    std::int64_t liveSinceUs_ = 0;
    std::int64_t lastPublishUs_ = 0;
    bool stalled_ = false;
    std::deque<std::pair<std::int64_t, std::int64_t>> rateSamples_;  // (time, total bytes)
};

}  // namespace vantry::platform
