// Private state of VantryMetalEngine, shared by the engine's source files.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "studio/SetGeometry.h"
#include "studio/gpu/GLWorker.h"
#include "studio/gpu/StageRenderer.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry {

struct VantryMetalEngine::Impl {
    ~Impl();

    // Copies what one frame needs under the lock (time: the override or directorClock).
    studio::gl::FrameSnapshot snapshot(std::optional<float> timeOverride, float aspect) const;
    // Runs on the worker: one offscreen frame, rows top to bottom, B G R A.
    std::optional<std::vector<std::uint8_t>> renderOnWorker(int width, int height, std::optional<float> time);

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
    std::string slideSourceName = "Corvella Studio Deck";
    BroadcastCameraAngle cameraAngle = BroadcastCameraAngle::wideDesk;
    float keyLightGain = 1.35f;
    float neonAccentGain = 1.25f;
    float ledWallBrightness = 1.15f;
    std::shared_ptr<const studio::gl::PresenterPicture> presenter;
    std::uint64_t presenterVersion = 0;
    studio::PresenterPlace presenterPlace;
    float directorClock = 0;
    double lastFrameTime = 0;

    // Frame-rate accounting of the live view.
    mutable std::mutex fpsMutex;
    FPSCallback onFPSUpdate;
    std::int64_t fpsCount = 0;
    double fpsStart = 0;

    // GPU copies per live GL context.
    struct LiveContext {
        std::unique_ptr<studio::gl::StageRenderer> renderer;
        studio::gl::MultisampleTarget target;
        bool failed = false;
    };
    std::mutex liveMutex;
    std::map<const void*, LiveContext> liveContexts;

    // Offscreen work: the worker thread owns the EGL context and these objects.
    std::unique_ptr<studio::gl::GLWorker> worker;
    std::unique_ptr<studio::gl::StageRenderer> offscreenRenderer;
    std::unique_ptr<studio::gl::MultisampleTarget> offscreenTarget;
};

}  // namespace vantry
