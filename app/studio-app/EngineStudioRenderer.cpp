#include "app/studio-app/EngineStudioRenderer.h"

#include <algorithm>
#include <limits>

namespace vantry::app {
namespace {

StageRenderSurface toEngineSurface(const StudioRenderer::LiveSurface& surface) {
    StageRenderSurface s;
    s.width = surface.width;
    s.height = surface.height;
    s.framebuffer = surface.framebuffer;
    s.contextKey = surface.contextKey;
    return s;
}

int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, std::numeric_limits<int>::max()));
}

}  // namespace

std::shared_ptr<EngineStudioRenderer> EngineStudioRenderer::create() {
    std::unique_ptr<VantryMetalEngine> engine = VantryMetalEngine::create();
    if (!engine) return nullptr;
    return std::make_shared<EngineStudioRenderer>(std::move(engine));
}

std::int64_t EngineStudioRenderer::exportBroadcastMP4(int width, int height, double durationSec,
                                                      const std::filesystem::path& destination,
                                                      const ExportProgress& progress) {
    vantry::ExportProgress forward;
    if (progress) {
        forward = [progress](std::int64_t done, std::int64_t total) {
            progress(clampToInt(done), clampToInt(total));
        };
    }
    return engine_->exportBroadcastMP4(width, height, durationSec, destination, forward);
}

void EngineStudioRenderer::liveSurfaceResized(const LiveSurface& surface) {
    engine_->drawableSizeWillChange(toEngineSurface(surface), surface.width, surface.height);
}

void EngineStudioRenderer::drawLiveFrame(const LiveSurface& surface) {
    engine_->drawInSurface(toEngineSurface(surface));
}

}  // namespace vantry::app
