// The program feed: the picture that goes out live. One picture per output frame: the studio
// rendered offscreen at the output size, with the presenter's facecam picture composited where
// and how the overlay shows it over the viewport.
//
// The feed runs on a thread of its own and paces itself at the output frame rate; rendering
// runs on the studio engine's offscreen GL context (never the window's). Nothing here waits on
// the main thread, and the main thread never waits on the feed (setters take a short lock).
#pragma once

#include <QColor>
#include <QImage>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/program-feed/PresenterPlacement.h"
#include "studio/SharedFrame.h"

namespace vantry::app::feed {

// What the overlay shows of the presenter; copied in from the main thread.
struct ProgramPresenter {
    bool visible = false;  // the facecam window is on screen
    // The presenter stands in the set: the studio frame already shows it, nothing is laid over.
    bool inSet = false;
    PresenterLook look;
    QImage picture;  // the facecam picture (premultiplied ARGB32); null: the preview fill
    QColor borderColor = QColor::fromRgbF(1, 1, 1, 0.45f);
};

// Draws the presenter into frame (premultiplied ARGB32) exactly as the facecam window paints
// itself: picture filling the window, clipped to its shape, optional border, soft shadow.
// A presenter standing in the set (inSet) is drawn by the studio renderer instead: no change.
// `canvas`: the frame's (placePresenter).
void composePresenter(QImage& frame, const ProgramPresenter& presenter,
                      ProgramCanvas canvas = ProgramCanvas::landscape);

class ProgramFeed {
  public:
    // One studio frame at width x height (SharedFrame); empty when it failed. A frame with the
    // serial of the one before (not 0) is the same picture: with the same presenter, the last
    // picture is handed out again as it is.
    using RenderStudio = std::function<SharedFrame(int width, int height)>;
    // The same as pixels of the caller's own: rows top to bottom, B G R A; absent when it failed.
    using RenderCopy = std::function<std::optional<std::vector<std::uint8_t>>(int width, int height)>;
    // Receives each finished picture (B G R A, rows top to bottom); called on the feed thread.
    using Output = std::function<void(const std::uint8_t* pixels, std::ptrdiff_t stride)>;
    enum class Slot { stream, virtualCamera };

    struct Stats {
        std::int64_t rendered = 0;  // pictures made and handed to the outputs
        std::int64_t failed = 0;    // studio frames that could not be rendered
        std::int64_t late = 0;      // frame slots that passed while a picture was being made
    };

    // `canvas`: the picture this feed makes; it places the floating presenter.
    ProgramFeed(int width, int height, int fps, RenderStudio render,
                ProgramCanvas canvas = ProgramCanvas::landscape);
    ProgramFeed(int width, int height, int fps, RenderCopy render,
                ProgramCanvas canvas = ProgramCanvas::landscape);
    ~ProgramFeed();  // stop()
    ProgramFeed(const ProgramFeed&) = delete;
    ProgramFeed& operator=(const ProgramFeed&) = delete;

    // Any thread; effective from the next picture.
    void setPresenter(ProgramPresenter presenter);
    void setOutput(Slot slot, Output output);  // an empty function removes it

    // Starts the thread (once).
    void start();
    // Ends the thread after the picture in progress; safe to call more than once.
    void stop();

    // One picture made on the calling thread (tests, benchmarks; not while the thread runs);
    // null when rendering failed.
    QImage renderPicture();

    // After a picture that took longer than a frame slot, the feed rests this share of the
    // time it took (0.25 unless set; for measuring).
    void setRestShare(double share) { restShare_ = share; }
    // For measuring: a picture after a late one waits for the next slot of the grid.
    void setKeepsToGrid(bool keeps) { keepsToGrid_ = keeps; }

    Stats stats() const;
    int width() const { return width_; }
    int height() const { return height_; }
    ProgramCanvas canvas() const { return canvas_; }

  private:
    void run();

    const int width_;
    const int height_;
    const int fps_;
    const ProgramCanvas canvas_;
    RenderStudio render_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<double> restShare_{0.25};
    std::atomic<bool> keepsToGrid_{false};
    ProgramPresenter presenter_;
    std::uint64_t presenterVersion_ = 0;  // counts setPresenter calls
    Output outputs_[2];
    Stats stats_;
    std::thread thread_;

    // The last picture made (renderPicture's thread only): written again in place when nobody
    // else holds it, handed out again while its studio frame and presenter stay the same.
    QImage picture_;
    std::uint64_t pictureSerial_ = 0;
    std::uint64_t picturePresenter_ = 0;
};

}  // namespace vantry::app::feed
