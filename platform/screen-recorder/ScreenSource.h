// Where a screen recording's pictures come from: the X screen through FFmpeg's x11grab, or the
// desktop portal's PipeWire stream (PortalScreenCast.h, PipeWireCapture.h). Internal to the
// Linux screen recorder (LinuxScreenRecorder.h).
#pragma once

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixfmt.h>
}

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/screen-recorder/PipeWireCapture.h"
#include "platform/screen-recorder/PortalScreenCast.h"

namespace vantry::platform::screen_recording {

// Opens the X screen of `display` (or, with a `windowId`, that window alone); returns nullptr
// with `error` set on failure. With a stop flag, a read waiting for the screen gives up once
// the flag is set.
AVFormatContext* openScreen(const std::string& display, int fps, std::atomic<bool>* stopFlag,
                            std::string& error, unsigned long windowId = 0);

// One picture of the screen, valid until the source's next call.
struct ScreenPicture {
    std::uint8_t* planes[4] = {};
    int strides[4] = {};
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::int64_t capturedAtUs = 0;  // wall clock
};

// Where the pictures come from.
class ScreenSource {
  public:
    virtual ~ScreenSource() = default;
    // Waits for the next picture; false at the end (`error` set unless the recording stops).
    virtual bool next(ScreenPicture& picture, std::string& error) = 0;
};

// x11grab: pictures at the grab's own rate, stamped with the grab's time.
class X11ScreenSource : public ScreenSource {
  public:
    // Takes the screen openScreen() opened.
    explicit X11ScreenSource(AVFormatContext* screen);
    ~X11ScreenSource() override;
    bool next(ScreenPicture& picture, std::string& error) override;

  private:
    AVFormatContext* screen_;
    AVPacket* packet_;
};

// FFmpeg's name of a PipeWire picture's layout.
AVPixelFormat avFormatOf(PixelLayout layout);

// The portal's PipeWire stream: a compositor sends a picture only when the screen changes, so
// the newest one is taken at every frame slot of the file's clock.
class PortalScreenSource : public ScreenSource {
  public:
    PortalScreenSource(std::unique_ptr<PortalScreenCast> portal, std::unique_ptr<PipeWireCapture> capture,
                       int fps, const std::atomic<bool>& stopping);
    // Stream first: the portal session's end would otherwise cut it off under the reader.
    ~PortalScreenSource() override;

    // The size and layout of the newest picture.
    bool peek(ScreenPicture& picture);
    // The file's time 0: slot k is at origin + k / fps.
    void setOrigin(std::int64_t origin) { origin_ = origin; }

    bool next(ScreenPicture& picture, std::string& error) override;

  private:
    void describe(ScreenPicture& picture) const;

    std::unique_ptr<PortalScreenCast> portal_;
    std::unique_ptr<PipeWireCapture> capture_;
    int fps_;
    const std::atomic<bool>& stopping_;
    CapturedPicture newest_;
    std::int64_t origin_ = 0;
    std::int64_t slot_ = -1;
};

// The portal's stream opened: the desktop asked for a source (or `restoreToken` picked one),
// its PipeWire stream connected and its first picture arrived.
struct PortalOpening {
    PortalStart::Status status = PortalStart::Status::failed;
    std::string error;         // failed: what went wrong
    std::string restoreToken;  // started: the desktop's token for the same source next time
    std::unique_ptr<PortalScreenSource> source;
};
// `endWithSource`: see PipeWireCapture.
PortalOpening openPortalScreen(const std::string& restoreToken, int dialogTimeoutMs, int fps,
                               const std::atomic<bool>& stopping, bool endWithSource = false);

}  // namespace vantry::platform::screen_recording
