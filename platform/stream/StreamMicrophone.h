// The default PulseAudio source for a live stream, read on its own thread into a short FIFO
// that the sending thread takes whole audio frames from without waiting.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

struct AVAudioFifo;

namespace vantry::platform {

class StreamMicrophone {
  public:
    explicit StreamMicrophone(std::atomic<bool>& stopping);
    ~StreamMicrophone();
    // Fills `planes` (two planes of `count` floats) when enough sound is waiting. The FIFO is
    // first filled to a cushion so that the small differences between the capture's and the
    // sending thread's timing do not cut holes into the sound; after running dry it is filled
    // again. False (the caller sends silence) otherwise, and when there is no microphone.
    bool read(float* const planes[2], int count);

  private:
    void run();

    std::atomic<bool>& stopping_;
    std::mutex mutex_;
    AVAudioFifo* fifo_ = nullptr;
    bool primed_ = false;
    std::thread thread_;
};

}  // namespace vantry::platform
