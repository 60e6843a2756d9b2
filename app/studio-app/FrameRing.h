// Three frame slots shared by a producer that renders frames and a consumer that
// shows them: the producer always has a slot to draw into without waiting, the
// consumer always shows the newest finished frame, and neither ever touches the
// slot the other holds. Each slot carries two opaque fence handles (GL sync
// objects in the live viewport): `ready`, set by the producer when it publishes
// the slot, and `released`, set by the consumer when it lets the slot go.
// Thread-safe; no Qt, no GL.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

namespace vantry::app {

class FrameRing {
  public:
    static constexpr int kSlots = 3;

    struct Taken {
        int slot = -1;
        std::uint64_t frame = 0;     // 1 for the first published frame, then counting up
        void* readyFence = nullptr;  // handed over: the caller waits on it and deletes it
    };

    // The producer's slot for its next frame, with the fences still on it (the
    // consumer's release, or the ready fence of a frame nobody took): the producer
    // waits on each that is not null and deletes it before drawing into the slot.
    struct Writable {
        int slot = -1;
        std::array<void*, 2> fences{};
    };
    Writable beginWrite();
    // The slot from beginWrite holds a finished frame; it becomes the newest one.
    void publish(void* readyFence);

    // True when a finished frame newer than the shown one waits (only the consumer
    // changes what is shown, so the answer holds for its next takeNewest).
    bool hasNewer() const;
    // The newest finished frame, when it is newer than the one the consumer shows; the
    // slot shown until now is let go with `releasedFence` (null when nothing was
    // shown yet, or when no fence is needed).
    std::optional<Taken> takeNewest(void* releasedFence);
    // The slot the consumer shows (-1 before the first frame).
    int shownSlot() const;
    // Frames published so far.
    std::uint64_t publishedFrames() const;

    // Every fence still held by the ring (for deletion at shutdown); clears them.
    std::array<void*, 2 * kSlots> drainFences();

  private:
    struct Slot {
        std::uint64_t frame = 0;
        void* readyFence = nullptr;
        void* releasedFence = nullptr;
    };
    mutable std::mutex mutex_;
    std::array<Slot, kSlots> slots_{};
    int writing_ = 0;
    int newest_ = -1;
    int shown_ = -1;
    std::uint64_t published_ = 0;
};

}  // namespace vantry::app
