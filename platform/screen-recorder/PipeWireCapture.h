// Reads a screen cast's PipeWire stream: the newest picture is kept, packed 32-bit or 24-bit
// RGB as the producer offers it, in shared-memory buffers (DMA-BUF buffers are not asked for).
// The stream runs on PipeWire's own thread; the reader takes copies of the newest picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantry::platform {

// Byte order in memory, first byte first ("x": unused).
enum class PixelLayout { bgrx, bgra, rgbx, rgba, xrgb, xbgr, argb, abgr, rgb, bgr };

struct CapturedPicture {
    std::vector<std::uint8_t> pixels;  // rows of `stride` bytes
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelLayout layout = PixelLayout::bgrx;
    std::uint64_t serial = 0;  // counts the pictures the stream delivered, from 1
};

class PipeWireCapture {
  public:
    // Connects to the remote behind `fd` (taken over, closed on failure too) and to the stream
    // node `nodeId`; throws std::runtime_error when that fails. With `endWithSource`, the node's
    // removal (its screen or window went away) ends the stream with an error; otherwise the
    // stream waits, its newest picture kept.
    PipeWireCapture(int fd, std::uint32_t nodeId, bool endWithSource = false);
    ~PipeWireCapture();
    PipeWireCapture(const PipeWireCapture&) = delete;
    PipeWireCapture& operator=(const PipeWireCapture&) = delete;

    // Waits until the first picture arrives; false with `error` set when the stream fails or
    // `timeoutMs` pass first.
    bool waitForFirstPicture(int timeoutMs, std::string& error);
    // Copies the newest picture into `out` (its buffer reused); false before the first one.
    bool copyNewest(CapturedPicture& out);
    // Why the stream stopped; empty while it runs.
    std::string error() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantry::platform
