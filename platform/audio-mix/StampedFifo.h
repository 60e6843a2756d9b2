// Planar stereo sound with the wall-clock time of its first sample, taken out by time: what was
// captured at a given moment, silence where nothing was. Lets sources that deliver in pieces of
// their own sizes and timing line up on one clock. Not thread-safe.
#pragma once

#include <cstdint>
#include <vector>

namespace vantry::platform {

class StampedFifo {
  public:
    // Holds up to `capacity` frames at `sampleRate`; older ones make way.
    explicit StampedFifo(int capacity, int sampleRate = 48000);

    // Appends `frames` captured from `stampUs` on. A piece that does not follow on from what is
    // held (a gap or an overlap beyond the tolerance: a reopened device) starts afresh.
    void write(const float* left, const float* right, int frames, std::int64_t stampUs);
    // Fills `frames` with what was captured from `atUs` on. Sound that has just started is put
    // exactly in place (older sound dropped, silence until it starts); after that it runs on
    // unbroken while it stays within the tolerance of the times asked for (the stamps' jitter
    // cuts no holes), and is put in place again when it strays further. Returns how many frames
    // are real sound.
    int take(float* left, float* right, int frames, std::int64_t atUs);
    void clear();

    int size() const { return size_; }
    // Capture time of the oldest held frame (meaningful while size() > 0).
    std::int64_t headUs() const;

    // How far a request's time may stray from the held sound before the sound is moved into
    // place (the sound server's time stamps swing by some 60 ms while its clock filter settles
    // in the first second, and wander after), and how far a piece's before it is taken for a
    // new start.
    static constexpr std::int64_t kToleranceUs = 120'000;
    static constexpr std::int64_t kGapUs = 250'000;

  private:
    void drop(int frames);
    std::int64_t framesToUs(std::int64_t frames) const;

    int rate_;
    std::vector<float> left_, right_;
    int head_ = 0;
    int size_ = 0;
    std::int64_t anchorUs_ = 0;  // capture time of the frame `consumed_` frames before the head
    std::int64_t consumed_ = 0;  // frames taken or dropped since the anchor
    bool aligning_ = true;       // the held sound is yet to be put in place
};

}  // namespace vantry::platform
