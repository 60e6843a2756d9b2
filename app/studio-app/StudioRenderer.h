// What the studio application needs from the studio renderer. The live engine is
// reached through an adapter (EngineStudioRenderer); tests use a fake.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QImage>

#include "studio/PresenterPlace.h"
#include "studio/ProgramCanvas.h"
#include "studio/SharedFrame.h"
#include "studio/StudioCatalogue.h"

namespace vantry::app {

class StudioRenderer {
  public:
    // Frames per second, delivered on the main thread.
    using FPSCallback = std::function<void(double)>;
    // Frames written so far and the frame total of a running export; any thread.
    using ExportProgress = std::function<void(int framesDone, int frameTotal)>;

    virtual ~StudioRenderer() = default;

    // Name of the image on the LED wall (its file name once one was loaded).
    virtual std::string slideSourceName() const = 0;

    // Live parameters; they take effect on the next frame.
    virtual void setCameraAngle(BroadcastCameraAngle angle) = 0;
    virtual void setKeyLightGain(float gain) = 0;
    virtual void setNeonAccentGain(float gain) = 0;
    virtual void setLedWallBrightness(float brightness) = 0;
    // A glide of the camera to the angle over `seconds` (0.3..3), eased; a renderer without
    // moves cuts. Setting the angle the camera moves to does not end the move.
    virtual void moveCameraAngle(BroadcastCameraAngle angle, float seconds) {
        (void)seconds;
        setCameraAngle(angle);
    }

    // The presenter standing in the set: its cut-out picture (null: none) and its place.
    virtual void setInSetPresenter(const QImage& picture) { (void)picture; }
    virtual void setInSetPresenterPlace(studio::PresenterPlace place) { (void)place; }
    // "Colour Match": the in-set presenter's white balance and exposure drawn slowly towards the
    // set's key light (a renderer without it draws the picture as it is).
    virtual void setInSetPresenterColourMatch(bool on) { (void)on; }
    // The floor point under viewport point (u, v) (0..1 from the top-left) of the live view, for
    // a view of that aspect; none above the horizon or for a renderer without a camera.
    virtual std::optional<Float3> liveFloorPointAt(float u, float v, float aspect) const {
        (void)u;
        (void)v;
        (void)aspect;
        return std::nullopt;
    }

    // Builds the set and swaps it in.
    virtual void loadSet(BroadcastStudioSet set) = 0;
    // True when the image now shows on the LED wall.
    virtual bool loadLEDWallImage(const std::filesystem::path& file) = 0;
    // A picture of a live wall source (a deck page, a video picture, a shared screen), named
    // `name` on the wall; any thread, at the source's rate.
    virtual void showLEDWallPicture(const QImage& picture, const std::string& name) {
        (void)picture;
        (void)name;
    }
    // Puts the wall's built-in picture back (a renderer without one keeps its wall).
    virtual void showBuiltInWall() {}

    // Replaces the frame-rate callback (an empty function removes it).
    virtual void setOnFPSUpdate(FPSCallback callback) = 0;

    // Renders and writes an H.264 MP4; blocks the calling thread (never the main
    // thread) and returns the size of the written file in bytes. Throws when the
    // destination cannot be prepared.
    virtual std::int64_t exportBroadcastMP4(int width, int height, double durationSec,
                                            const std::filesystem::path& destination,
                                            const ExportProgress& progress) = 0;

    // One offscreen studio frame at the live view's animation time, for the program feed:
    // width x height x 4 bytes, rows top to bottom, B G R A. Any thread but the main thread
    // (it waits for the renderer's offscreen context). Absent when it cannot be made. `canvas`
    // picks the picture's camera: the landscape one or the vertical canvas's own.
    virtual std::optional<std::vector<std::uint8_t>> renderProgramFrame(
        int width, int height, ProgramCanvas canvas = ProgramCanvas::landscape) {
        (void)width;
        (void)height;
        (void)canvas;
        return std::nullopt;
    }
    // The same frame without a copy (SharedFrame); by default renderProgramFrame's, serial 0.
    virtual SharedFrame renderSharedProgramFrame(int width, int height,
                                                 ProgramCanvas canvas = ProgramCanvas::landscape) {
        return sharedFrameOf(renderProgramFrame(width, height, canvas));
    }

    // Live surface hooks, called on the thread whose OpenGL context is current
    // (Qt's render thread). The renderer draws with 4 samples into targets of its
    // own and resolves the frame into surface.framebuffer.
    struct LiveSurface {
        int width = 0;   // pixels
        int height = 0;  //
        unsigned int framebuffer = 0;
        const void* contextKey = nullptr;  // the current context (QOpenGLContext*)
    };
    virtual void liveSurfaceResized(const LiveSurface& surface) { (void)surface; }
    virtual void drawLiveFrame(const LiveSurface& surface) { (void)surface; }
    // The context is about to go: drop what was made for it (it is current).
    virtual void releaseLiveResources(const void* contextKey) { (void)contextKey; }

    // Idling of the live view. liveChangeCount counts changes of anything the picture depends
    // on; liveFrameUpToDate says the frame last drawn for the surface's context is what a frame
    // drawn now would show (a still angle, nothing changed); waitForLiveChange blocks until the
    // count differs from `seen` or the timeout passes (true: it changed); noteLiveChange counts
    // a change from outside (a resize, a stop) and wakes the waiter. liveFrameHeld reports the
    // rate the display shows a held frame at as the live frame rate. Any thread. A renderer that
    // keeps nothing always draws.
    virtual std::uint64_t liveChangeCount() const { return 0; }
    virtual bool liveFrameUpToDate(const LiveSurface& surface) const {
        (void)surface;
        return false;
    }
    virtual bool waitForLiveChange(std::uint64_t seen, double timeoutSeconds) {
        (void)seen;
        (void)timeoutSeconds;
        return true;
    }
    virtual void noteLiveChange() {}
    virtual void liveFrameHeld(double displayFramesPerSecond) { (void)displayFramesPerSecond; }
};

}  // namespace vantry::app
