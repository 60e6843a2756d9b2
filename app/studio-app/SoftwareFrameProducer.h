// The live viewport's studio thread for software OpenGL: a software rasterizer
// shares its worker threads among the contexts of one display connection, so a
// studio frame drawn in a context shared with Qt Quick's would hold up the window's
// own frames. Here the studio draws in an EGL context without a display (its own
// rasterizer) and each finished frame is read back into one of the ring's three
// pixel slots, which the item uploads. No Qt, no window-system headers.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/studio-app/FrameRing.h"
#include "app/studio-app/StudioRenderer.h"

namespace vantry::app {

class SoftwareFrameProducer {
  public:
    struct Pixels {
        std::vector<std::uint8_t> rgba;  // rows bottom-up (GL's order), 4 bytes a pixel
        int width = 0;
        int height = 0;
    };

    // frameReady is called on the studio thread after each published frame.
    SoftwareFrameProducer(std::shared_ptr<StudioRenderer> renderer, std::function<void()> frameReady);
    ~SoftwareFrameProducer();

    // Starts the thread; false when no EGL context can be made (checked on the thread).
    bool start();
    void stop();
    void setPixelSize(int width, int height);
    // The display's refresh rate: the frame rate reported while a still frame is held.
    void setDisplayRate(double framesPerSecond);

    FrameRing& ring() { return ring_; }
    // Valid for a slot from FrameRing::takeNewest until that slot is let go.
    const Pixels& pixels(int slot) const { return pixels_[static_cast<std::size_t>(slot)]; }
    int framesDrawn() const { return int(ring_.publishedFrames()); }
    // True while the thread sleeps with its newest frame up to date.
    bool holding() const { return holding_.load(); }

    // At most this many frames a second. While the studio is still (the renderer's last frame
    // is up to date) nothing is drawn: the thread sleeps until something changes.
    static constexpr double kMaxFramesPerSecond = 120.0;
    // How often a held frame's rate is reported.
    static constexpr double kHeldReportSeconds = 0.5;

  private:
    void run(std::promise<bool>* started);

    std::shared_ptr<StudioRenderer> renderer_;
    std::function<void()> frameReady_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> holding_{false};
    std::mutex sizeMutex_;
    int width_ = 0;
    int height_ = 0;
    double displayRate_ = 60.0;
    FrameRing ring_;
    std::array<Pixels, FrameRing::kSlots> pixels_{};
};

}  // namespace vantry::app
