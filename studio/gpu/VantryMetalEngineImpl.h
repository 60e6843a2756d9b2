// Private state of VantryMetalEngine, shared by the engine's source files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "studio/ColourMatch.h"
#include "studio/FrameKey.h"
#include "studio/PresenterFraming.h"
#include "studio/SetGeometry.h"
#include "studio/gpu/GLWorker.h"
#include "studio/gpu/StageRenderer.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry {

// What the wall shows before an image is loaded, and again when a shot asks for it.
inline constexpr const char* kBuiltInWallName = "Corvella Studio Deck";

// How long after its last frame the program feed counts as following the live clock, and how
// long at most it waits for a frame the live view is drawing for it. The live view always ends
// the wait, with the frame or without it (a failed draw); the bound only guards against a live
// thread stuck in the driver, so it is far above any frame's time, even on a loaded machine.
inline constexpr double kFeedFollowSeconds = 1.0;
inline constexpr double kHandOverWaitSeconds = 10.0;

struct VantryMetalEngine::Impl {
    ~Impl();

    // The frames of one GL context: the stage (sky and set) of the last stage key and, when a
    // presenter stands in the set, that stage with the presenter over a copy of it. A frame
    // whose key equals the last one is not drawn again.
    struct ContextFrames {
        std::shared_ptr<studio::gl::StageRenderer> renderer;  // the offscreen canvases share one
        studio::gl::MultisampleTarget stage;
        studio::gl::MultisampleTarget composed;
        std::optional<studio::StageKey> stageKey;
        std::optional<studio::StageKey> composedStageKey;  // the stage whose depth `composed` holds
        std::optional<studio::FrameKey> composedKey;       // the frame `composed` holds
        std::optional<studio::FrameKey> frameKey;          // the frame `finished` holds
        // Where the presenter pass drew into `composed` (the presenter and its shadow); absent
        // when unknown.
        std::optional<PixelRect> composedDrawn;
        studio::gl::MultisampleTarget* finished = nullptr;
        // Where `finished` differs from the frame it held before (the last frame of this
        // context), when only a wall pass (and the presenter over it) drew it; absent otherwise.
        std::optional<PixelRect> changedSincePrevious;
        float flipY = 0;  // the orientation the kept frames were drawn in
        bool failed = false;
    };

    // Copies what one frame needs (time: the override or directorClock), with the frame's key
    // for a width x height target; the caller holds the lock.
    studio::gl::FrameSnapshot snapshotLocked(std::optional<float> timeOverride, int width, int height,
                                             float aspect, studio::FrameKey& key,
                                             ProgramCanvas canvas = ProgramCanvas::landscape) const;
    // True while the program feed follows the live clock at the size of a live surface that
    // is width x height: the live view then hands its frames over; lock held.
    bool feedFollowsLocked(int width, int height, double now) const;
    // The key of a frame at time t; live: at the live clock, where a camera move applies. The
    // caller holds the lock.
    studio::FrameKey keyLocked(float t, bool live, int width, int height,
                               ProgramCanvas canvas = ProgramCanvas::landscape) const;
    // The camera's eye and target at time t (live: a running move applies); lock held.
    studio::camera::CameraPose poseLocked(float t, bool live) const;
    // The canvas's lens at time t (live: a running move applies); lock held.
    studio::camera::Lens lensLocked(float t, bool live, ProgramCanvas canvas) const;
    // True while a camera move changes the live picture; lock held.
    bool movingLocked() const;
    // Brings frames to the frame of key (drawing only what changed); the target holding it, or
    // null when a target cannot be made. The context must be current.
    studio::gl::MultisampleTarget* produce(ContextFrames& frames, const studio::gl::FrameSnapshot& frame,
                                           const studio::FrameKey& key, float flipY);
    // Runs on the worker: one offscreen frame, rows top to bottom, B G R A.
    std::optional<std::vector<std::uint8_t>> renderOnWorker(int width, int height, std::optional<float> time,
                                                            ProgramCanvas canvas = ProgramCanvas::landscape);
    // The same frame without a copy: the pixels kept for the last key (the same object and
    // serial again while the key does not change); empty on failure.
    SharedFrame renderSharedOnWorker(int width, int height, std::optional<float> time,
                                     ProgramCanvas canvas = ProgramCanvas::landscape);
    // The frame renderSharedOnWorker gave last for this canvas, when the frame asked for now has
    // its key (taken on the calling thread, without the worker); empty otherwise.
    SharedFrame takeKeptFrame(int width, int height, std::optional<float> time, ProgramCanvas canvas);
    // Counts a change of anything the picture depends on and wakes waitForChange; lock held.
    void changedLocked();

    std::string deviceName;
    std::function<double()> now;  // absolute time in seconds
    EngineServices services;

    // Guards everything down to directorClock; held only for short copies.
    mutable std::mutex lock;
    BroadcastStudioSet studioSet = BroadcastStudioSet::manhattanLoft;
    std::shared_ptr<const SetGeometry> geometry;
    bool stageBuffersOk = false;
    std::uint64_t setVersion = 0;
    std::shared_ptr<const studio::gl::WallImage> wall;
    std::uint64_t wallVersion = 0;
    Float3 wallLight{};  // the wall picture's mean linear colour (studio::averageWallLight)
    std::string slideSourceName = kBuiltInWallName;
    BroadcastCameraAngle cameraAngle = BroadcastCameraAngle::wideDesk;
    // The move towards cameraAngle, in live clock time (none: a cut), and its number.
    std::optional<studio::camera::CameraMove> cameraMove;
    std::uint64_t cameraMoveId = 0;
    float keyLightGain = 1.35f;
    float neonAccentGain = 1.25f;
    float ledWallBrightness = 1.15f;
    std::shared_ptr<const studio::gl::PresenterPicture> presenter;
    std::uint64_t presenterVersion = 0;
    studio::PresenterPlace presenterPlace;
    // The head found in the camera pictures, followed over time; the one the current picture
    // is placed by (none: the picture fills the default card).
    studio::HeadTracker headTracker;
    std::optional<studio::HeadMeasure> presenterHead;
    // The colour match of the camera pictures (off until switched on), stepped by each picture
    // at the time `now` gave for the one before (none: no picture since it was switched).
    studio::ColourMatch colourMatch{false};
    std::optional<double> colourMatchTime;
    float directorClock = 0;
    double lastFrameTime = 0;
    std::uint64_t changeCount = 0;
    mutable std::condition_variable changed;

    // Passes drawn, over every context.
    std::atomic<std::int64_t> stagePasses{0};
    std::atomic<std::int64_t> presenterPasses{0};
    std::atomic<std::int64_t> wallPasses{0};
    std::atomic<std::int64_t> wallPresenterPasses{0};

    // Frame-rate accounting of the live view.
    mutable std::mutex fpsMutex;
    FPSCallback onFPSUpdate;
    std::int64_t fpsCount = 0;
    double fpsStart = 0;

    // GPU copies and frames per live GL context.
    mutable std::mutex liveMutex;
    std::map<const void*, ContextFrames> liveContexts;

    // Offscreen work: the worker thread owns the EGL context and these objects.
    std::unique_ptr<studio::gl::GLWorker> worker;
    std::unique_ptr<ContextFrames> offscreen;
    // The last offscreen frame read back, and its key.
    std::optional<studio::FrameKey> offscreenPixelsKey;
    std::shared_ptr<std::vector<std::uint8_t>> offscreenPixels;
    std::uint64_t offscreenSerial = 0;
    // The same for the vertical canvas, so that frames of the two canvases asked for in turn
    // each reuse their own; its frames share the landscape frames' renderer.
    std::unique_ptr<ContextFrames> verticalOffscreen;
    std::optional<studio::FrameKey> verticalPixelsKey;
    std::shared_ptr<std::vector<std::uint8_t>> verticalPixels;
    std::uint64_t verticalSerial = 0;
    // The last shared frame of each canvas (landscape, vertical) with its key, guarded by `lock`:
    // cleared before the worker may write into its buffer.
    struct KeptFrame {
        std::optional<studio::FrameKey> key;
        SharedFrame frame;
    };
    KeptFrame keptFrames[2];
    // The serials of the pixels above and of those handed over (SharedFrame), counted together.
    std::uint64_t pixelSerials = 0;

    // Frames the live view hands to the program feed, so that a frame the two ask for alike
    // is drawn once. Guarded by `lock`: the size and time of the feed's last frame at the live
    // clock; the key of the frame the live view is drawing for it (set with the clock step, so
    // the feed never draws that frame itself meanwhile); and the last frame handed over.
    int feedWidth = 0;
    int feedHeight = 0;
    double feedAskedAt = 0;
    bool feedAsked = false;
    std::optional<studio::FrameKey> handOverPending;
    std::optional<studio::FrameKey> handOverKey;
    std::shared_ptr<std::vector<std::uint8_t>> handOverPixels;
    std::uint64_t handOverSerial = 0;
    std::condition_variable handedOver;
};

}  // namespace vantry
