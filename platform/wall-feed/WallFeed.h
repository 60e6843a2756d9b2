// Live sources of LED wall pictures: a video file played looped, a shared screen or window, and
// the pages of a slide deck. Each feed runs on a thread of its own and hands finished pictures,
// already at the wall's live size, to its callbacks.
#pragma once

#include <QImage>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/audio/SoundFeed.h"

namespace vantry::platform::wall {

// The size live wall pictures (deck pages, video pictures, shared screens) are made at.
inline constexpr int kLivePictureWidth = 1280;
inline constexpr int kLivePictureHeight = 720;
// The most pictures a second a feed hands on.
inline constexpr int kMaxFeedRate = 30;

struct FeedCallbacks {
    // A new picture, kLivePictureWidth x kLivePictureHeight, premultiplied ARGB32. On the
    // feed's thread.
    std::function<void(const QImage& picture)> picture;
    // The feed ended by itself (a shared window closed, a monitor went away, the file stopped
    // decoding); `message` says why, as the window shows it. On the feed's thread, at most once;
    // never after the feed's destructor has started.
    std::function<void(const std::string& message)> ended;
};

// A running feed. Destroying it stops it: its thread is joined and no callback runs once the
// destructor returns.
class WallFeed {
  public:
    virtual ~WallFeed() = default;
    // What the wall calls it: the video's file name, "Screen", a window's title.
    virtual std::string name() const = 0;
    // The desktop portal's restore token for sharing the same source again without asking;
    // empty where there is none.
    virtual std::string restoreToken() const { return {}; }
    // The feed's sound for the mix's "Wall Video", in step with its pictures; null where it has
    // none to give (a screen, a window).
    virtual std::shared_ptr<audio::SoundFeed> sound() const { return nullptr; }
};

// The clock a feed paces its pictures by. Left empty, the steady clock and a wait that the
// feed's destructor cuts short; a test hands in its own to force the order without sleeping.
struct FeedClock {
    using TimePoint = std::chrono::steady_clock::time_point;
    std::function<TimePoint()> now;
    // Waits until `due` (on the feed's thread); returns early once `stopping` is set.
    std::function<void(TimePoint due, const std::atomic<bool>& stopping)> sleepUntil;
};

// Plays the video file looped at its own frame rate (at most kMaxFeedRate pictures a second),
// its sound (silence where it has none) given by sound() from the moment its first picture is
// due. Null with `error` set when it cannot be opened or has no video.
std::unique_ptr<WallFeed> openVideoWallFeed(const std::filesystem::path& file, FeedCallbacks callbacks,
                                            std::string& error);
// The same, paced by `clock`.
std::unique_ptr<WallFeed> openVideoWallFeed(const std::filesystem::path& file, FeedCallbacks callbacks,
                                            std::string& error, FeedClock clock);

// The wall picture size with the shape of a `width` x `height` picture (pixels `aspectNum` /
// `aspectDen` wide) kept: the largest such rectangle within the live picture, centred.
struct FitRect {
    int x = 0, y = 0, width = 0, height = 0;
};
FitRect fitIntoLivePicture(int width, int height, int aspectNum = 1, int aspectDen = 1);

// What a screen share films.
struct ScreenShareTarget {
    enum class Kind { screen, window, portal };
    Kind kind = Kind::screen;
    std::string display;         // X11 display (":0"); empty: $DISPLAY
    unsigned long windowId = 0;  // Kind::window: the X11 top-level window
    std::string restoreToken;    // Kind::portal: a token from an earlier share, or empty to ask
};

// A top-level window that can be shared.
struct ShareableWindow {
    unsigned long id = 0;
    std::string title;
};

// The titled top-level windows of the X display (empty: $DISPLAY), this process's own left out
// so the wall never films itself. Empty when there is no X display.
std::vector<ShareableWindow> listShareableWindows(const std::string& display);

// True where screens are shared through the desktop portal (a Wayland session).
bool screenShareUsesPortal();

// Starts sharing: pictures follow the source's rate, at most kMaxFeedRate a second. Null with
// `error` set when the source cannot be opened (no display, the window is gone, the portal
// dialog was cancelled).
std::unique_ptr<WallFeed> openScreenWallFeed(const ScreenShareTarget& target, FeedCallbacks callbacks,
                                             std::string& error);

}  // namespace vantry::platform::wall
