// The studio renderer: owns the studio's GPU programs, the current set, the LED wall
// image and the lighting parameters; draws live frames into a caller's GL context and
// renders frames offscreen (pixel arrays, images, broadcast MP4 files).
//
// GPU model: the engine keeps the truth on the CPU side (set arrays, wall pixels,
// parameters, clock) under its lock. Every GL context that draws the studio holds its
// own GPU copies, created on first use and refreshed when a version number says the
// CPU side changed. Offscreen work runs on the engine's own worker thread, which owns
// an EGL context without any display.
#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/EncoderChoice.h"
#include "studio/PresenterFraming.h"
#include "studio/PresenterPlace.h"
#include "studio/ProgramCanvas.h"
#include "studio/SharedFrame.h"
#include "studio/StageTypes.h"
#include "studio/StudioCatalogue.h"

namespace vantry {

// A live drawing target handed to the engine each frame by the window's render thread.
// The GL context that owns `framebuffer` must be current on the calling thread.
struct StageRenderSurface {
    int width = 0;   // drawable size in pixels
    int height = 0;  //
    // Single-sampled framebuffer object the finished frame is resolved into
    // (0 = the context's default framebuffer). The engine renders with 4 samples into
    // its own targets and resolves into this one.
    unsigned int framebuffer = 0;
    // Identifies the current GL context (for instance the QOpenGLContext pointer). The
    // engine keeps one set of GPU copies per key. Null: the engine uses the native
    // EGL or GLX context handle that is current.
    const void* contextKey = nullptr;
    // Called after the frame has been submitted (swap buffers, hand the texture on).
    // May be empty.
    std::function<void()> present;
};

// Progress of an export: frames handed to the writer so far, and the frame total.
using ExportProgress = std::function<void(std::int64_t framesDone, std::int64_t framesTotal)>;

// Where an export's frames go: an H.264 MP4 writer unless the engine was given another.
class ExportVideoSink {
  public:
    virtual ~ExportVideoSink() = default;
    // One frame, rows top to bottom, B G R A; stride in bytes. Throws on failure.
    virtual void appendBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frame) = 0;
    // Completes the file. Throws on failure.
    virtual void finish() = 0;
};

struct ExportVideoFormat {
    int width = 0;
    int height = 0;
    int fps = 0;
    std::int64_t averageBitRate = 0;
};

// The default sink: an H.264 MP4 file through platform::VideoWriter, with the H.264 encoder
// `encoder` picks. Throws when it cannot open.
std::unique_ptr<ExportVideoSink> openMP4VideoSink(
    const std::filesystem::path& path, const ExportVideoFormat& format,
    platform::media::H264Choice encoder = platform::media::H264Choice::automatic);

using ExportFrame = std::optional<std::vector<std::uint8_t>>;

// What the engine takes from outside, given at creation. Empty members mean the real thing.
struct EngineServices {
    // Absolute time in seconds for the live frame timing; default: the wall clock.
    std::function<double()> clock;
    // Opens the sink an export writes to; default: platform::VideoWriter. Throws on failure.
    std::function<std::unique_ptr<ExportVideoSink>(const std::filesystem::path&, const ExportVideoFormat&)>
        openVideoSink;
    // Produces export frame n by calling render (on the GL worker); default: render().
    // An absent frame is skipped, as when rendering fails.
    std::function<ExportFrame(std::int64_t frame, const std::function<ExportFrame()>& render)> exportFrame;
};

class VantryMetalEngine {
  public:
    // Creates the engine on the default GPU device (an OpenGL 3.3 core context through
    // EGL without a display). Null when any GPU step fails; never throws.
    static std::unique_ptr<VantryMetalEngine> create(EngineServices services = {});

    ~VantryMetalEngine();
    VantryMetalEngine(const VantryMetalEngine&) = delete;
    VantryMetalEngine& operator=(const VantryMetalEngine&) = delete;

    // "OpenGL renderer string" of the offscreen device, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
    std::string deviceName() const;

    // Builds the set (600 vertices, 900 indices) and swaps it in for the next frame.
    void loadSet(BroadcastStudioSet set);
    BroadcastStudioSet studioSet() const;

    // Decodes the image (Qt's readers, HEIC through libheif), clamps each side to
    // 64..2048, stretches it over the wall. True when the wall now shows it; on false
    // the wall and slideSourceName are unchanged.
    bool loadLEDWallImage(const std::filesystem::path& file);
    // A picture from a live wall source (a deck page, a video picture, a shared screen): shown
    // from the next frame as a new wall picture, sides clamped as for a file; `name` becomes
    // slideSourceName. Cheap enough to call at the source's frame rate: a premultiplied 32-bit
    // picture within the side limits (the live sources' 1280 x 720 ARGB32_Premultiplied) is
    // shared, not copied, and each GL context uploads it once into the texture it fits; at a
    // still angle a frame then draws again only the wall's part of the picture. A shared
    // picture's pixels must not change while the wall may show it: a QImage over a buffer of
    // the caller's (QImage(uchar*, ...)) keeps that buffer as it is until the next picture. A
    // null picture changes nothing. Any thread.
    void showLEDWallPicture(const QImage& picture, const std::string& name);
    // Puts the built-in "Corvella Studio Deck" back on the wall.
    void showBuiltInWall();
    // Name of the wall content: "Corvella Studio Deck" until an image loads, then the
    // image's file name.
    std::string slideSourceName() const;

    // Studio parameters; safe to write from any thread, effective from the next frame.
    // setCameraAngle cuts to the angle (a running move to another angle ends).
    BroadcastCameraAngle cameraAngle() const;
    void setCameraAngle(BroadcastCameraAngle angle);
    // Moves the camera to the angle: eye and target glide from what the live picture shows now
    // to the angle's own (moving) pose over `seconds` of live animation time (clamped to
    // 0.3..3), eased at both ends; then the angle's own motion continues. Live frames and
    // offscreen frames at the live clock (the program feed) show the move; frames at a time of
    // their own (exports) show the angle. Nothing happens when the camera is on the angle or
    // moving to it already. Any thread.
    void moveCameraAngle(BroadcastCameraAngle angle, float seconds);
    // True while a move between angles changes the live picture.
    bool cameraMoving() const;
    float keyLightGain() const;
    void setKeyLightGain(float gain);
    float neonAccentGain() const;
    void setNeonAccentGain(float gain);
    float ledWallBrightness() const;
    void setLedWallBrightness(float brightness);

    // The presenter standing in the set ("Stand in Set"), drawn by every frame (live and
    // offscreen) after the stage, hidden where the set is in front of it. picture: the cut-out
    // facecam picture, premultiplied ARGB32 (other formats are converted); a null image takes
    // the presenter out. Each call with a picture counts as a new camera frame: the GL
    // contexts upload it once. Any thread.
    void setInSetPresenter(const QImage& picture);
    bool hasInSetPresenter() const;
    // "Colour Match": each camera picture's white balance and exposure, measured over the
    // person, move the gains the presenter is drawn with towards the key light over a few
    // seconds of the engine's clock (studio/ColourMatch.h). Off (the default) draws the picture
    // as it is; switching it on starts from that. Any thread.
    void setInSetPresenterColourMatch(bool on);
    bool inSetPresenterColourMatch() const;
    // The gains the presenter is drawn with now (1 each while off).
    Float3 inSetPresenterColourGains() const;
    // Where it stands; clamped to the set. Any thread.
    void setInSetPresenterPlace(studio::PresenterPlace place);
    studio::PresenterPlace inSetPresenterPlace() const;
    // The head the presenter's picture is placed by (life size, studio/PresenterFraming.h):
    // followed over the pictures of about the last second; none before a picture showed one.
    std::optional<studio::HeadMeasure> inSetPresenterHead() const;
    // The floor point under viewport point (u, v) (0..1 from the top-left) of the live view at
    // its current pose, for a view of that aspect; none above the horizon. Any thread.
    std::optional<Float3> liveFloorPointAt(float u, float v, float aspect) const;

    // Animation time of the live view, in seconds.
    float directorClock() const;

    // Called on the main thread (through platform::postToMain) about twice a second
    // with the measured live frame rate.
    using FPSCallback = std::function<void(double fps)>;
    FPSCallback onFPSUpdate() const;
    void setOnFPSUpdate(FPSCallback callback);

    // Live surface notifications, called on the thread whose GL context is current.
    // The size change does nothing: the aspect ratio is taken from every frame.
    void drawableSizeWillChange(const StageRenderSurface& surface, int width, int height);
    // Advances the clock by the clamped frame time and delivers one live frame, in GL's
    // orientation (picture row 0 at the framebuffer's bottom row); a frame whose key equals
    // the context's last one is resolved from the kept samples without drawing. The framebuffer
    // bindings and viewport are restored afterwards; other GL state (depth test,
    // program, vertex array, texture unit 0, uniform buffer binding 0) is left as the
    // frame set it, so a toolkit sharing the context resets its own state after.
    void drawInSurface(const StageRenderSurface& surface);
    // True when a live frame drawn now for contextKey at width x height would be the one that
    // context drew last (a still angle and nothing changed): the caller may keep showing it.
    // Any thread.
    bool liveFrameUpToDate(const void* contextKey, int width, int height) const;
    // Counts every change of what the picture depends on (each parameter write, set, wall
    // image, presenter picture or place, and noteChange). waitForChange blocks until the count
    // differs from `seen` or the timeout passes; true when it changed. Any thread.
    std::uint64_t changeCount() const;
    bool waitForChange(std::uint64_t seen, double timeoutSeconds) const;
    // Counts a change that happened outside the engine (a resize) and wakes the waiters.
    void noteChange();
    // While the live view holds a still frame, reports `fps` (the rate the display shows it at)
    // to the frame-rate callback; drawn frames are counted afresh from now.
    void reportHeldFrameRate(double fps);

    // Passes drawn so far, all contexts together: stage passes (sky and set) and presenter
    // passes over a kept stage. A frame whose key equals the last one of its context draws none.
    // A frame that differs from the last one only in the wall's picture, at a still angle, draws
    // the stage again only where the wall's screen is (a wall pass, not a stage pass) and, with
    // a presenter in the set, the presenter over a copy of just that part and its own (a wall
    // presenter pass, counted among the presenter passes too).
    struct DrawCounts {
        std::int64_t stagePasses = 0;
        std::int64_t presenterPasses = 0;
        std::int64_t wallPasses = 0;
        std::int64_t wallPresenterPasses = 0;
    };
    DrawCounts drawCounts() const;

    // Deletes the GPU copies kept for contextKey (null: the current native context).
    // Call with that context current, before it is destroyed.
    void releaseContextResources(const void* contextKey);

    // One offscreen frame: width x height x 4 bytes, rows top to bottom, B G R A with
    // alpha 255. timeOverride absent: the live directorClock. Absent on any failure.
    // Frames at the live clock are the program feed's: while it asks for them (at most a
    // second apart) at the size of a live surface at least as wide as tall, the live view
    // draws its frames as offscreen frames are drawn and hands them over, so a frame both ask
    // for is drawn once; the feed waits for a frame the live view is drawing.
    // `canvas` picks the camera: the landscape one, or the vertical canvas's own framing of the
    // same angle (meant for pictures taller than wide). Each canvas keeps its own frames.
    std::optional<std::vector<std::uint8_t>> renderOffscreenBGRA(
        int width, int height, std::optional<float> timeOverride,
        ProgramCanvas canvas = ProgramCanvas::landscape);
    // The same frame without a copy (SharedFrame): the same pixels and serial again while the
    // frame does not change. Let go of the pixels before asking for the next frame: while they
    // are held, the next frame is read back whole into a new buffer.
    SharedFrame renderOffscreenShared(int width, int height, std::optional<float> timeOverride,
                                      ProgramCanvas canvas = ProgramCanvas::landscape);
    // The same frame as a premultiplied ARGB32 image (B G R A in memory); null on failure.
    // The name is the studio's public one; on Linux the image is a QImage, not a CGImage.
    QImage renderOffscreenCGImage(int width, int height, std::optional<float> timeOverride,
                                  ProgramCanvas canvas = ProgramCanvas::landscape);

    // Renders max(30, floor(durationSec * 30)) frames at 30 frames per second into an
    // H.264 MP4 file at 16 Mbit/s and returns the file's size in bytes (0 if it cannot
    // be read). Blocks the caller until the file is finished; call it off the main
    // thread. `url` is the public name of the destination; on Linux it is a local file
    // path, never a network address. The file is written beside it and replaces a file or link there when
    // finished. Creating the parent folder, a destination that is not a file, or opening
    // the writer throw std::runtime_error (or std::filesystem::filesystem_error).
    std::int64_t exportBroadcastMP4(int width, int height, double durationSec,
                                    const std::filesystem::path& url, const ExportProgress& progress = {},
                                    ProgramCanvas canvas = ProgramCanvas::landscape);

    struct Impl;

  private:
    explicit VantryMetalEngine(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantry
