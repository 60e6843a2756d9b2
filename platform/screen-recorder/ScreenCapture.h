// The screen recorder's screen sources (ScreenSource.h) for a reader without FFmpeg of its
// own, such as the LED wall's screen share: the X screen, one X window, or the source the
// desktop portal's dialog picks, read picture by picture and converted to packed BGRA.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantry::platform {

struct ScreenCaptureTarget {
    enum class Kind { screen, window, portal };
    Kind kind = Kind::screen;
    std::string display;         // screen, window: the X display (":0")
    unsigned long windowId = 0;  // window: the X window
    std::string restoreToken;    // portal: a token of an earlier start, or empty to ask
    int fps = 30;
    int dialogTimeoutMs = 300'000;  // portal: the wait for the user's choice
};

class ScreenCapture {
  public:
    enum class OpenStatus { opened, cancelled, failed };

    // Opens the target; null with `error` set (and `status`, when given, saying whether the
    // portal's dialog was cancelled) when it cannot be read. The portal asks through the
    // session bus and needs a Qt application (PortalScreenCast.h).
    static std::unique_ptr<ScreenCapture> open(const ScreenCaptureTarget& target, std::string& error,
                                               OpenStatus* status = nullptr);
    ~ScreenCapture();
    ScreenCapture(const ScreenCapture&) = delete;
    ScreenCapture& operator=(const ScreenCapture&) = delete;

    // Waits for the next picture, at the target's rate; false at the end (`error` set) or once
    // stop() was called.
    bool next(std::string& error);
    // The size of the picture next() got.
    int width() const;
    int height() const;
    // That picture as packed BGRA of width x height (scaled), `stride` bytes a row.
    bool toBGRA(std::uint8_t* target, int stride, int width, int height);
    // From any thread: a waiting next() gives up soon.
    void stop();
    // portal: the desktop's token for sharing the same source again without asking.
    const std::string& restoreToken() const;

    struct Impl;

  private:
    explicit ScreenCapture(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantry::platform
