// StudioRenderer over the studio engine (VantryMetalEngine).
#pragma once

#include <memory>

#include "app/studio-app/StudioRenderer.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry::app {

class EngineStudioRenderer : public StudioRenderer {
  public:
    explicit EngineStudioRenderer(std::unique_ptr<VantryMetalEngine> engine) : engine_(std::move(engine)) {}

    // Creates the engine on the default GPU device; null when it cannot be made.
    static std::shared_ptr<EngineStudioRenderer> create();

    VantryMetalEngine& engine() { return *engine_; }

    std::string slideSourceName() const override { return engine_->slideSourceName(); }
    void setCameraAngle(BroadcastCameraAngle angle) override { engine_->setCameraAngle(angle); }
    void moveCameraAngle(BroadcastCameraAngle angle, float seconds) override {
        engine_->moveCameraAngle(angle, seconds);
    }
    void setKeyLightGain(float gain) override { engine_->setKeyLightGain(gain); }
    void setNeonAccentGain(float gain) override { engine_->setNeonAccentGain(gain); }
    void setLedWallBrightness(float brightness) override { engine_->setLedWallBrightness(brightness); }
    void setInSetPresenter(const QImage& picture) override { engine_->setInSetPresenter(picture); }
    void setInSetPresenterPlace(studio::PresenterPlace place) override {
        engine_->setInSetPresenterPlace(place);
    }
    void setInSetPresenterColourMatch(bool on) override { engine_->setInSetPresenterColourMatch(on); }
    std::optional<Float3> liveFloorPointAt(float u, float v, float aspect) const override {
        return engine_->liveFloorPointAt(u, v, aspect);
    }
    void loadSet(BroadcastStudioSet set) override { engine_->loadSet(set); }
    void showBuiltInWall() override { engine_->showBuiltInWall(); }
    void showLEDWallPicture(const QImage& picture, const std::string& name) override {
        engine_->showLEDWallPicture(picture, name);
    }
    bool loadLEDWallImage(const std::filesystem::path& file) override {
        return engine_->loadLEDWallImage(file);
    }
    void setOnFPSUpdate(FPSCallback callback) override { engine_->setOnFPSUpdate(std::move(callback)); }
    std::int64_t exportBroadcastMP4(int width, int height, double durationSec,
                                    const std::filesystem::path& destination,
                                    const ExportProgress& progress) override;

    std::optional<std::vector<std::uint8_t>> renderProgramFrame(
        int width, int height, ProgramCanvas canvas = ProgramCanvas::landscape) override {
        return engine_->renderOffscreenBGRA(width, height, std::nullopt, canvas);
    }
    SharedFrame renderSharedProgramFrame(int width, int height,
                                         ProgramCanvas canvas = ProgramCanvas::landscape) override {
        return engine_->renderOffscreenShared(width, height, std::nullopt, canvas);
    }

    void liveSurfaceResized(const LiveSurface& surface) override;
    void drawLiveFrame(const LiveSurface& surface) override;
    void releaseLiveResources(const void* contextKey) override {
        engine_->releaseContextResources(contextKey);
    }
    std::uint64_t liveChangeCount() const override { return engine_->changeCount(); }
    bool liveFrameUpToDate(const LiveSurface& surface) const override {
        return engine_->liveFrameUpToDate(surface.contextKey, surface.width, surface.height);
    }
    bool waitForLiveChange(std::uint64_t seen, double timeoutSeconds) override {
        return engine_->waitForChange(seen, timeoutSeconds);
    }
    void noteLiveChange() override { engine_->noteChange(); }
    void liveFrameHeld(double displayFramesPerSecond) override {
        engine_->reportHeldFrameRate(displayFramesPerSecond);
    }

  private:
    std::unique_ptr<VantryMetalEngine> engine_;
};

}  // namespace vantry::app
