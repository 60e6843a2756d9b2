#include "studio/gpu/VantryMetalEngine.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/gl/EglOffscreenContext.h"
#include "studio/PresenterShadow.h"
#include "studio/SetGeometry.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngineImpl.h"
#include "studio/gpu/WallImageLoader.h"

namespace vantry {

using studio::gl::FrameSnapshot;
using studio::gl::MultisampleTarget;
using studio::gl::StageRenderer;

namespace {

// The wall's own picture, shown until an image is loaded.
std::shared_ptr<const studio::gl::WallImage> builtInWall() {
    auto wall = std::make_shared<studio::gl::WallImage>();
    wall->width = studio::camera::kFallbackWallWidth;
    wall->height = studio::camera::kFallbackWallHeight;
    wall->rgba = studio::camera::makeFallbackWallPixels();
    return wall;
}

// The wall picture's light on the presenter.
Float3 wallLightOf(const studio::gl::WallImage& w) {
    return studio::averageWallLight(w.data(), w.width, w.height, w.rowBytes(), w.bgra);
}

// The middle of the LED wall's screen (its vertices' mean); the origin without one.
Float3 wallCentreOf(const SetGeometry& g) {
    Float3 sum{};
    int n = 0;
    for (const StageVertex& v : g.vertices) {
        if (v.matTag > 1.5f && v.matTag < 2.5f) {
            sum = sum + v.position;
            ++n;
        }
    }
    return n > 0 ? sum * (1.0f / float(n)) : Float3{};
}

double wallClockSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

VantryMetalEngine::Impl::~Impl() {
    if (worker) {
        worker->run([this] {
            verticalOffscreen.reset();
            offscreen.reset();
        });
        worker.reset();
    }
    // GPU copies of live contexts that were not released go with their contexts.
    for (auto& [key, live] : liveContexts) {
        if (live.renderer) live.renderer->abandon();
        live.stage.abandon();
        live.composed.abandon();
    }
}

void VantryMetalEngine::Impl::changedLocked() {
    ++changeCount;
    changed.notify_all();
}

bool VantryMetalEngine::Impl::movingLocked() const {
    return cameraMove && studio::camera::moveRunning(*cameraMove, directorClock);
}

studio::camera::CameraPose VantryMetalEngine::Impl::poseLocked(float t, bool live) const {
    if (live && cameraMove) return studio::camera::movedPose(*cameraMove, cameraAngle, t);
    return studio::camera::cameraRig(cameraAngle, t);
}

studio::camera::Lens VantryMetalEngine::Impl::lensLocked(float t, bool live, ProgramCanvas canvas) const {
    if (canvas != ProgramCanvas::vertical) return studio::camera::landscapeLens();
    if (live && cameraMove) return studio::camera::movedVerticalLens(*cameraMove, cameraAngle, t);
    return studio::camera::verticalLens(cameraAngle);
}

studio::FrameKey VantryMetalEngine::Impl::keyLocked(float t, bool live, int width, int height,
                                                    ProgramCanvas canvas) const {
    const bool moving = live && cameraMove && studio::camera::moveRunning(*cameraMove, t);
    studio::FrameKey key;
    key.stage = studio::makeStageKey(studioSet, setVersion, cameraAngle, t, keyLightGain, neonAccentGain,
                                     ledWallBrightness, wallVersion, width, height, moving ? cameraMoveId : 0,
                                     canvas);
    if (presenter)
        key.presenter = studio::PresenterKey{presenterVersion, presenter->width, presenter->height,
                                             presenterPlace, colourMatch.quantised()};
    return key;
}

bool VantryMetalEngine::Impl::feedFollowsLocked(int width, int height, double at) const {
    // The live and offscreen projections agree where the picture is at least as wide as tall.
    return feedAsked && width == feedWidth && height == feedHeight && width >= height &&
           at - feedAskedAt <= kFeedFollowSeconds;
}

FrameSnapshot VantryMetalEngine::Impl::snapshotLocked(std::optional<float> timeOverride, int width,
                                                      int height, float aspect, studio::FrameKey& key,
                                                      ProgramCanvas canvas) const {
    FrameSnapshot frame;
    frame.geometry = stageBuffersOk ? geometry : nullptr;
    frame.setVersion = setVersion;
    frame.wall = wall;
    frame.wallVersion = wallVersion;
    // A camera move runs on the live clock; a frame at a time of its own shows the angle.
    const bool live = !timeOverride;
    const float t = timeOverride.value_or(directorClock);
    frame.uniforms =
        studio::camera::makeStageUniforms(studioSet, poseLocked(t, live), lensLocked(t, live, canvas), t,
                                          keyLightGain, neonAccentGain, ledWallBrightness, aspect);
    if (presenter) {
        frame.presenter = presenter;
        frame.presenterVersion = presenterVersion;
        const Float4& eye = frame.uniforms.cameraPos;
        const studio::FramedQuad quad =
            studio::presenterQuadFor(presenterPlace, float(presenter->width) / float(presenter->height),
                                     {eye.x, eye.y, eye.z}, presenterHead);
        frame.presenterQuad = quad.corners;
        frame.presenterBottomV = quad.bottomV;
        frame.presenterWallLight = wallLight;
        frame.presenterColourGains = studio::quantisedToGains(colourMatch.quantised());
        if (geometry) frame.presenterWallSide = studio::wallSide(quad.corners, wallCentreOf(*geometry));
    }
    key = keyLocked(t, live, width, height, canvas);
    return frame;
}

namespace {

// True when two stages differ only in the wall's picture: the same set, camera, lights and size.
bool onlyWallDiffers(const studio::StageKey& a, const studio::StageKey& b) {
    studio::StageKey same = b;
    same.wallVersion = a.wallVersion;
    return a.wallVersion != b.wallVersion && a == same;
}

}  // namespace

MultisampleTarget* VantryMetalEngine::Impl::produce(ContextFrames& frames, const FrameSnapshot& frame,
                                                    const studio::FrameKey& key, float flipY) {
    if (frames.flipY != flipY) {
        frames.stageKey.reset();
        frames.composedStageKey.reset();
        frames.composedKey.reset();
        frames.frameKey.reset();
        frames.finished = nullptr;
        frames.flipY = flipY;
    }
    if (frames.finished && frames.frameKey == key) {
        frames.changedSincePrevious = PixelRect{};
        return frames.finished;
    }
    const MultisampleTarget* previous = frames.finished;
    frames.changedSincePrevious.reset();
    frames.finished = nullptr;
    frames.frameKey.reset();
    if (!frames.stage.ensure(key.stage.width, key.stage.height)) {
        frames.stageKey.reset();
        frames.composedStageKey.reset();
        frames.composedKey.reset();
        return nullptr;
    }
    // The wall's screen in this frame; absent where it has no bounds (a corner behind the camera).
    const auto wallBounds = [&]() -> std::optional<PixelRect> {
        if (!frame.geometry) return PixelRect{};  // the sky alone: the wall shows nowhere
        return wallScreenBounds(*frame.geometry, frame.uniforms.viewProj, flipY, key.stage.width,
                                key.stage.height);
    };
    // Where only the wall's picture changed, the stage outside the wall's screen stays as it is:
    // the wall pass draws within the wall's bounds alone, over the kept stage and its depth,
    // which the wall's picture does not change (StageRenderer::encodeStagePass).
    std::optional<PixelRect> wallRect;
    bool freshStage = false;
    if (frames.stageKey != key.stage) {
        if (frames.stageKey && onlyWallDiffers(*frames.stageKey, key.stage)) wallRect = wallBounds();
        if (wallRect) {
            frames.stage.resumePass();
            frames.renderer->encodeStagePass(frame, flipY, &*wallRect);
            wallPasses.fetch_add(1, std::memory_order_relaxed);
        } else {
            frames.stage.beginPass();
            frames.renderer->encodeStagePass(frame, flipY);
            stagePasses.fetch_add(1, std::memory_order_relaxed);
            freshStage = true;
        }
        frames.stageKey = key.stage;
    }
    // While the camera moves, no stage serves a second frame: the presenter is drawn straight
    // over the stage instead of over a copy of it, and the stage, which then holds the
    // presenter, is forgotten.
    const bool cameraMoves = studio::angleMoves(key.stage.angle) || key.stage.cameraMove != 0;
    if (key.presenter && freshStage && cameraMoves) {
        frames.stage.resumePass();
        frames.renderer->encodePresenterPass(frame, flipY);
        presenterPasses.fetch_add(1, std::memory_order_relaxed);
        frames.stageKey.reset();
        frames.composedStageKey.reset();
        frames.composedKey.reset();
        frames.finished = &frames.stage;
        frames.frameKey = key;
        return frames.finished;
    }
    if (!key.presenter) {
        frames.finished = &frames.stage;
        if (wallRect && previous == &frames.stage) frames.changedSincePrevious = wallRect;
    } else {
        // The presenter over a copy of the stage's colour and depth. The presenter writes no
        // depth: the depth is copied once for each stage, the colour for every frame. Where the
        // kept composition is of the same presenter over a stage that differs only in the wall's
        // picture (and so has the same depth), only the colour within the wall's and the
        // presenter's bounds is copied, and the presenter, which lies within, drawn over it.
        // Where it is of another camera picture or place over the same stage, only the colour
        // within the bounds of what the presenter pass drew there and of what it draws now.
        if (!frames.composed.ensure(key.stage.width, key.stage.height)) {
            frames.composedStageKey.reset();
            frames.composedKey.reset();
            return nullptr;
        }
        // Where the presenter pass draws: the presenter and its shadow on the set, grown by a
        // row and a column each way (a fragment let past the scissor's edge lands on a pixel
        // copied afresh as in a whole pass).
        const auto grown = [&](std::optional<PixelRect> r) -> std::optional<PixelRect> {
            if (!r || r->empty()) return r;
            const int x0 = std::max(0, r->x - 1), y0 = std::max(0, r->y - 1);
            const int x1 = std::min(key.stage.width, r->x + r->width + 1);
            const int y1 = std::min(key.stage.height, r->y + r->height + 1);
            return PixelRect{x0, y0, x1 - x0, y1 - y0};
        };
        const std::optional<PixelRect> presenter = grown(projectedBounds(
            frame.presenterQuad, frame.uniforms.viewProj, flipY, key.stage.width, key.stage.height));
        const std::optional<PixelRect> shadow = grown(studio::presenterShadowBounds(
            frame.presenterQuad, frame.geometry ? studio::setBackZ(*frame.geometry) : 0.0f,
            frame.uniforms.viewProj, flipY, key.stage.width, key.stage.height));
        const std::optional<PixelRect> drawn =
            presenter && shadow ? std::optional<PixelRect>(unite(*presenter, *shadow)) : std::nullopt;
        std::optional<PixelRect> composeRect;
        bool wallChanged = false;
        if (frames.composedKey && frames.composedKey->presenter == key.presenter &&
            onlyWallDiffers(frames.composedKey->stage, key.stage)) {
            const std::optional<PixelRect> wall = wallRect ? wallRect : wallBounds();
            if (wall && drawn) composeRect = unite(*wall, *drawn);
            wallChanged = true;
        } else if (frames.composedKey && frames.composedKey->stage == key.stage &&
                   frames.composedStageKey == key.stage && frames.composedDrawn && drawn) {
            composeRect = unite(*frames.composedDrawn, *drawn);
        }
        if (composeRect) {
            frames.composed.copyFrom(frames.stage, false, &*composeRect);
            if (wallChanged) wallPresenterPasses.fetch_add(1, std::memory_order_relaxed);
        } else {
            frames.composed.copyFrom(frames.stage, frames.composedStageKey != key.stage);
        }
        frames.renderer->encodePresenterPass(frame, flipY);
        presenterPasses.fetch_add(1, std::memory_order_relaxed);
        frames.composedDrawn = drawn;
        frames.composedStageKey = key.stage;
        frames.composedKey = key;
        frames.finished = &frames.composed;
        if (composeRect && previous == &frames.composed) frames.changedSincePrevious = composeRect;
    }
    frames.frameKey = key;
    return frames.finished;
}

SharedFrame VantryMetalEngine::Impl::renderSharedOnWorker(int width, int height, std::optional<float> time,
                                                          ProgramCanvas canvas) {
    // Each canvas keeps its own frames and pixels.
    const bool vertical = canvas == ProgramCanvas::vertical;
    std::unique_ptr<ContextFrames>& offscreen = vertical ? verticalOffscreen : this->offscreen;
    std::optional<studio::FrameKey>& offscreenPixelsKey =
        vertical ? verticalPixelsKey : this->offscreenPixelsKey;
    std::shared_ptr<std::vector<std::uint8_t>>& offscreenPixels =
        vertical ? verticalPixels : this->offscreenPixels;
    std::uint64_t& offscreenSerial = vertical ? verticalSerial : this->offscreenSerial;
    KeptFrame& kept = keptFrames[vertical ? 1 : 0];
    if (!offscreen || !offscreen->renderer) return {};
    studio::FrameKey key;
    FrameSnapshot frame;
    {
        std::unique_lock<std::mutex> guard(lock);
        // The buffer may be written below: callers no longer take it from here (one that took
        // it holds it, and then it is not written).
        kept = {};
        frame =
            snapshotLocked(time, width, height, studio::camera::offscreenAspect(width, height), key, canvas);
        if (!time && !vertical) {
            // A landscape frame at the live clock: the program feed. A live view of its size
            // hands its frames over; the one it is drawing now is waited for rather than drawn
            // twice. The live view films no vertical frames.
            feedAsked = true;
            feedWidth = width;
            feedHeight = height;
            feedAskedAt = now();
            const auto handedOverNow = [&] { return handOverPixels && handOverKey == key; };
            if (!handedOverNow() && handOverPending == key) {
                handedOver.wait_for(guard, std::chrono::duration<double>(kHandOverWaitSeconds),
                                    [&] { return handedOverNow() || handOverPending != key; });
            }
            if (handedOverNow()) return {handOverPixels, handOverSerial};
        }
    }
    const auto keep = [&]() -> SharedFrame {
        const SharedFrame shared{offscreenPixels, offscreenSerial};
        std::lock_guard<std::mutex> guard(lock);
        kept = {key, shared};
        return shared;
    };
    if (offscreenPixels && offscreenPixelsKey == key) return keep();
    // The buffer holds the context's last frame: where a wall pass drew this one over it, only
    // what changed is read back into it.
    const bool holdsLastFrame =
        offscreenPixels && offscreenPixelsKey && offscreenPixelsKey == offscreen->frameKey;
    offscreenPixelsKey.reset();
    // Row 0 of the picture lands on framebuffer row 0, which read-back returns first.
    MultisampleTarget* target = produce(*offscreen, frame, key, -1.0f);
    if (!target) return {};
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    const std::optional<PixelRect> changed = offscreen->changedSincePrevious;
    bool read = false;
    if (holdsLastFrame && changed && offscreenPixels.use_count() == 1 && offscreenPixels->size() == bytes) {
        read = target->readRegionBGRA(*changed, offscreenPixels->data());
    } else {
        // The buffer is written again only when nobody else holds it.
        if (!offscreenPixels || offscreenPixels.use_count() > 1) {
            offscreenPixels = std::make_shared<std::vector<std::uint8_t>>();
        }
        offscreenPixels->resize(bytes);
        read = target->readBGRA(offscreenPixels->data());
    }
    if (!read) {
        offscreenPixels.reset();
        return {};
    }
    offscreenPixelsKey = key;
    offscreenSerial = ++pixelSerials;
    return keep();
}

SharedFrame VantryMetalEngine::Impl::takeKeptFrame(int width, int height, std::optional<float> time,
                                                   ProgramCanvas canvas) {
    const bool vertical = canvas == ProgramCanvas::vertical;
    std::lock_guard<std::mutex> guard(lock);
    const KeptFrame& kept = keptFrames[vertical ? 1 : 0];
    if (!kept.frame) return {};
    const bool live = !time;
    const studio::FrameKey key = keyLocked(time.value_or(directorClock), live, width, height, canvas);
    if (live && !vertical) {
        // The program feed at the live clock, as renderSharedOnWorker follows it; a frame the
        // live view is drawing or has handed over is left to that path.
        feedAsked = true;
        feedWidth = width;
        feedHeight = height;
        feedAskedAt = now();
        if (handOverPending == key || (handOverPixels && handOverKey == key)) return {};
    }
    return kept.key == key ? kept.frame : SharedFrame{};
}

std::optional<std::vector<std::uint8_t>> VantryMetalEngine::Impl::renderOnWorker(int width, int height,
                                                                                 std::optional<float> time,
                                                                                 ProgramCanvas canvas) {
    const SharedFrame frame = renderSharedOnWorker(width, height, time, canvas);
    if (!frame) return std::nullopt;
    return *frame.pixels;
}

std::unique_ptr<VantryMetalEngine> VantryMetalEngine::create(EngineServices services) {
    try {
        auto context = platform::gl::EglOffscreenContext::create();
        if (!context) return nullptr;
        auto impl = std::make_unique<Impl>();
        impl->now = services.clock ? services.clock : std::function<double()>(wallClockSeconds);
        impl->services = std::move(services);
        impl->lastFrameTime = impl->now();
        impl->fpsStart = impl->now();
        impl->deviceName = context->renderer();
        impl->worker = std::make_unique<studio::gl::GLWorker>(std::move(context));
        if (!impl->worker->ready()) return nullptr;
        Impl* raw = impl.get();
        const bool built = impl->worker->run([raw] {
            raw->offscreen = std::make_unique<Impl::ContextFrames>();
            raw->offscreen->renderer = StageRenderer::create();
            raw->verticalOffscreen = std::make_unique<Impl::ContextFrames>();
            raw->verticalOffscreen->renderer = raw->offscreen->renderer;
            return raw->offscreen->renderer != nullptr;
        });
        if (!built) return nullptr;
        impl->wall = builtInWall();
        impl->wallLight = wallLightOf(*impl->wall);
        impl->wallVersion = 1;
        std::unique_ptr<VantryMetalEngine> engine(new VantryMetalEngine(std::move(impl)));
        engine->loadSet(BroadcastStudioSet::manhattanLoft);
        return engine;
    } catch (...) {
        return nullptr;
    }
}

VantryMetalEngine::VantryMetalEngine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VantryMetalEngine::~VantryMetalEngine() = default;

std::string VantryMetalEngine::deviceName() const {
    return impl_->deviceName;
}

void VantryMetalEngine::loadSet(BroadcastStudioSet set) {
    // Built outside the lock; swapped in with its version in one critical section.
    std::shared_ptr<const SetGeometry> built;
    bool ok = true;
    try {
        built = std::make_shared<const SetGeometry>(buildStudioSet(set));
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->studioSet = set;
    impl_->geometry = std::move(built);
    impl_->stageBuffersOk = ok;
    ++impl_->setVersion;
    impl_->changedLocked();
}

BroadcastStudioSet VantryMetalEngine::studioSet() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->studioSet;
}

bool VantryMetalEngine::loadLEDWallImage(const std::filesystem::path& file) {
    std::shared_ptr<const studio::gl::WallImage> image = studio::gl::loadWallImage(file);
    if (!image) return false;
    const Float3 wallLight = wallLightOf(*image);
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->wallLight = wallLight;
    impl_->wall = std::move(image);
    ++impl_->wallVersion;
    impl_->slideSourceName = file.filename().string();
    impl_->changedLocked();
    return true;
}

void VantryMetalEngine::showLEDWallPicture(const QImage& picture, const std::string& name) {
    std::shared_ptr<const studio::gl::WallImage> image = studio::gl::wallImageFrom(picture);
    if (!image) return;
    const Float3 wallLight = wallLightOf(*image);
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->wallLight = wallLight;
    impl_->wall = std::move(image);
    ++impl_->wallVersion;
    impl_->slideSourceName = name;
    impl_->changedLocked();
}

void VantryMetalEngine::showBuiltInWall() {
    std::shared_ptr<const studio::gl::WallImage> wall = builtInWall();
    const Float3 wallLight = wallLightOf(*wall);
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->wallLight = wallLight;
    impl_->wall = std::move(wall);
    ++impl_->wallVersion;
    impl_->slideSourceName = kBuiltInWallName;
    impl_->changedLocked();
}

std::string VantryMetalEngine::slideSourceName() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->slideSourceName;
}

BroadcastCameraAngle VantryMetalEngine::cameraAngle() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->cameraAngle;
}

void VantryMetalEngine::setCameraAngle(BroadcastCameraAngle angle) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (!(angle == impl_->cameraAngle)) impl_->cameraMove.reset();
    impl_->cameraAngle = angle;
    impl_->changedLocked();
}

void VantryMetalEngine::moveCameraAngle(BroadcastCameraAngle angle, float seconds) {
    Impl& d = *impl_;
    std::lock_guard<std::mutex> guard(d.lock);
    if (angle == d.cameraAngle) return;
    const float t = d.directorClock;
    d.cameraMove =
        studio::camera::CameraMove{d.poseLocked(t, true), t, studio::camera::clampMoveDuration(seconds),
                                   d.lensLocked(t, true, ProgramCanvas::vertical)};
    ++d.cameraMoveId;
    d.cameraAngle = angle;
    d.changedLocked();
}

bool VantryMetalEngine::cameraMoving() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->movingLocked();
}

#define VANTRY_LOCKED_PROPERTY(Type, getter, setter, field) \
    Type VantryMetalEngine::getter() const {                \
        std::lock_guard<std::mutex> guard(impl_->lock);     \
        return impl_->field;                                \
    }                                                       \
    void VantryMetalEngine::setter(Type value) {            \
        std::lock_guard<std::mutex> guard(impl_->lock);     \
        impl_->field = value;                               \
        impl_->changedLocked();                             \
    }

VANTRY_LOCKED_PROPERTY(float, keyLightGain, setKeyLightGain, keyLightGain)
VANTRY_LOCKED_PROPERTY(float, neonAccentGain, setNeonAccentGain, neonAccentGain)
VANTRY_LOCKED_PROPERTY(float, ledWallBrightness, setLedWallBrightness, ledWallBrightness)
#undef VANTRY_LOCKED_PROPERTY

void VantryMetalEngine::setInSetPresenter(const QImage& picture) {
    std::shared_ptr<studio::gl::PresenterPicture> made;
    if (!picture.isNull() && picture.width() > 0 && picture.height() > 0) {
        // Shares the picture's pixels (a converted copy when it is in another format).
        auto image = std::make_shared<const QImage>(
            picture.format() == QImage::Format_ARGB32_Premultiplied
                ? picture
                : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        if (!image->isNull()) {
            made = std::make_shared<studio::gl::PresenterPicture>();
            made->width = image->width();
            made->height = image->height();
            made->stride = int(image->bytesPerLine());
            made->bgra = image->constBits();
            made->owner = image;
        }
    }
    // The head in this picture's coverage (premultiplied B G R A: the fourth byte).
    std::optional<studio::HeadMeasure> measure;
    studio::PersonColour colour;
    if (made) {
        measure = studio::measureHead(made->bgra + 3, made->width, made->height, 4, made->stride);
        if (inSetPresenterColourMatch())
            colour = studio::measurePersonColour(made->bgra, made->width, made->height, made->stride);
    }
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    const double clock = impl_->now();
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (made) {
        impl_->headTracker.add(measure, now);
        impl_->presenterHead = impl_->headTracker.head();
        if (impl_->colourMatch.enabled()) {
            const double since = impl_->colourMatchTime ? clock - *impl_->colourMatchTime : 0.0;
            impl_->colourMatch.update(colour, studio::kKeyLightColour, float(since));
            impl_->colourMatchTime = clock;
        }
    }
    impl_->presenter = std::move(made);
    ++impl_->presenterVersion;
    impl_->changedLocked();
}

void VantryMetalEngine::setInSetPresenterColourMatch(bool on) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (on == impl_->colourMatch.enabled()) return;
    impl_->colourMatch.setEnabled(on);
    impl_->colourMatchTime.reset();
    impl_->changedLocked();
}

bool VantryMetalEngine::inSetPresenterColourMatch() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->colourMatch.enabled();
}

Float3 VantryMetalEngine::inSetPresenterColourGains() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return studio::quantisedToGains(impl_->colourMatch.quantised());
}

bool VantryMetalEngine::hasInSetPresenter() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->presenter != nullptr;
}

void VantryMetalEngine::setInSetPresenterPlace(studio::PresenterPlace place) {
    place = studio::clampPresenterPlace(place);
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->presenterPlace = place;
    impl_->changedLocked();
}

studio::PresenterPlace VantryMetalEngine::inSetPresenterPlace() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->presenterPlace;
}

std::optional<studio::HeadMeasure> VantryMetalEngine::inSetPresenterHead() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->presenterHead;
}

std::optional<Float3> VantryMetalEngine::liveFloorPointAt(float u, float v, float aspect) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return studio::camera::floorPointAt(impl_->poseLocked(impl_->directorClock, true), aspect, u, v);
}

float VantryMetalEngine::directorClock() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->directorClock;
}

VantryMetalEngine::FPSCallback VantryMetalEngine::onFPSUpdate() const {
    std::lock_guard<std::mutex> guard(impl_->fpsMutex);
    return impl_->onFPSUpdate;
}

void VantryMetalEngine::setOnFPSUpdate(FPSCallback callback) {
    std::lock_guard<std::mutex> guard(impl_->fpsMutex);
    impl_->onFPSUpdate = std::move(callback);
}

void VantryMetalEngine::drawableSizeWillChange(const StageRenderSurface&, int, int) {}

void VantryMetalEngine::drawInSurface(const StageRenderSurface& surface) {
    Impl& d = *impl_;
    // No drawable or no GL context: the clock steps, the frame is skipped and not counted.
    const void* key =
        surface.contextKey != nullptr ? surface.contextKey : platform::gl::currentNativeContext();
    Impl::ContextFrames* live = nullptr;
    if (key != nullptr && surface.width >= 1 && surface.height >= 1) {
        std::lock_guard<std::mutex> guard(d.liveMutex);
        live = &d.liveContexts[key];
        if (!live->renderer && !live->failed) {
            live->renderer = StageRenderer::create();
            live->failed = !live->renderer;
        }
        if (!live->renderer) live = nullptr;
    }

    // The clock steps and the frame is taken in one go, so that the program feed asking at the
    // new time meanwhile finds the frame pending.
    double now = 0;
    bool forFeed = false;   // drawn as the feed draws
    bool handOver = false;  // and read back for it: a frame it has not been handed yet
    studio::FrameKey frameKey;
    FrameSnapshot frame;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        now = d.now();
        const double dt = studio::camera::clampFrameStep(now - d.lastFrameTime);
        d.lastFrameTime = now;
        d.directorClock += static_cast<float>(dt);
        // A finished move shows the angle's own pose: nothing to keep.
        if (d.cameraMove && !d.movingLocked()) d.cameraMove.reset();
        if (!live) return;
        frame = d.snapshotLocked(std::nullopt, surface.width, surface.height,
                                 studio::camera::liveAspect(surface.width, surface.height), frameKey);
        forFeed = d.feedFollowsLocked(surface.width, surface.height, now);
        handOver = forFeed && d.handOverKey != frameKey;
        if (handOver) d.handOverPending = frameKey;
    }

    GLint previousDraw = 0;
    GLint previousRead = 0;
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previousDraw);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
    glGetIntegerv(GL_VIEWPORT, viewport);

    // For the feed, frames are drawn the way it draws them (picture row 0 at framebuffer row
    // 0), read back for it, and turned over into the surface.
    MultisampleTarget* finished = d.produce(*live, frame, frameKey, forFeed ? -1.0f : 1.0f);
    std::shared_ptr<std::vector<std::uint8_t>> pixels;
    if (finished && forFeed) {
        finished->resolveFlippedInto(surface.framebuffer);
        if (handOver) {
            {
                // The last buffer is written again unless the feed still holds it.
                std::lock_guard<std::mutex> guard(d.lock);
                if (d.handOverPixels.use_count() == 1) pixels = std::move(d.handOverPixels);
                d.handOverPixels.reset();
                d.handOverKey.reset();
            }
            if (!pixels) pixels = std::make_shared<std::vector<std::uint8_t>>();
            pixels->resize(std::size_t(surface.width) * std::size_t(surface.height) * 4);
            if (!finished->readResolvedBGRA(pixels->data())) pixels.reset();
        }
    } else if (finished) {
        finished->resolveInto(surface.framebuffer);
    }
    if (handOver) {
        std::lock_guard<std::mutex> guard(d.lock);
        if (pixels) {
            d.handOverPixels = std::move(pixels);
            d.handOverKey = frameKey;
            d.handOverSerial = ++d.pixelSerials;
        }
        if (d.handOverPending == frameKey) d.handOverPending.reset();
        d.handedOver.notify_all();
    }

    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(previousDraw));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previousRead));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    if (!finished) return;
    glFlush();
    if (surface.present) surface.present();

    // Frame-rate accounting; the window starts at construction.
    std::lock_guard<std::mutex> guard(d.fpsMutex);
    ++d.fpsCount;
    if (now - d.fpsStart >= 0.5) {
        const double fps = static_cast<double>(d.fpsCount) / (now - d.fpsStart);
        d.fpsCount = 0;
        d.fpsStart = now;
        FPSCallback callback = d.onFPSUpdate;
        platform::postToMain([callback = std::move(callback), fps] {
            if (callback) callback(fps);
        });
    }
}

bool VantryMetalEngine::liveFrameUpToDate(const void* contextKey, int width, int height) const {
    const Impl& d = *impl_;
    std::optional<studio::FrameKey> held;
    {
        std::lock_guard<std::mutex> guard(d.liveMutex);
        const auto it = d.liveContexts.find(contextKey);
        if (it == d.liveContexts.end() || !it->second.finished) return false;
        held = it->second.frameKey;
    }
    std::lock_guard<std::mutex> guard(d.lock);
    // A moving camera's next frame is at a later time.
    if (studio::angleMoves(d.cameraAngle) || d.movingLocked()) return false;
    return held == d.keyLocked(d.directorClock, true, width, height);
}

std::uint64_t VantryMetalEngine::changeCount() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->changeCount;
}

bool VantryMetalEngine::waitForChange(std::uint64_t seen, double timeoutSeconds) const {
    std::unique_lock<std::mutex> guard(impl_->lock);
    return impl_->changed.wait_for(guard, std::chrono::duration<double>(timeoutSeconds),
                                   [&] { return impl_->changeCount != seen; });
}

void VantryMetalEngine::noteChange() {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->changedLocked();
}

void VantryMetalEngine::reportHeldFrameRate(double fps) {
    Impl& d = *impl_;
    const double now = d.now();
    std::lock_guard<std::mutex> guard(d.fpsMutex);
    // The drawn-frame count starts again when drawing resumes.
    d.fpsCount = 0;
    d.fpsStart = now;
    FPSCallback callback = d.onFPSUpdate;
    platform::postToMain([callback = std::move(callback), fps] {
        if (callback) callback(fps);
    });
}

VantryMetalEngine::DrawCounts VantryMetalEngine::drawCounts() const {
    return {impl_->stagePasses.load(), impl_->presenterPasses.load(), impl_->wallPasses.load(),
            impl_->wallPresenterPasses.load()};
}

void VantryMetalEngine::releaseContextResources(const void* contextKey) {
    const void* key = contextKey != nullptr ? contextKey : platform::gl::currentNativeContext();
    std::lock_guard<std::mutex> guard(impl_->liveMutex);
    impl_->liveContexts.erase(key);
}

std::optional<std::vector<std::uint8_t>> VantryMetalEngine::renderOffscreenBGRA(
    int width, int height, std::optional<float> timeOverride, ProgramCanvas canvas) {
    if (width < 1 || height < 1) return std::nullopt;
    Impl* d = impl_.get();
    try {
        return d->worker->run([d, width, height, timeOverride, canvas] {
            return d->renderOnWorker(width, height, timeOverride, canvas);
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

SharedFrame VantryMetalEngine::renderOffscreenShared(int width, int height, std::optional<float> timeOverride,
                                                     ProgramCanvas canvas) {
    if (width < 1 || height < 1) return {};
    Impl* d = impl_.get();
    if (const SharedFrame kept = d->takeKeptFrame(width, height, timeOverride, canvas)) return kept;
    try {
        return d->worker->run([d, width, height, timeOverride, canvas] {
            return d->renderSharedOnWorker(width, height, timeOverride, canvas);
        });
    } catch (const std::exception&) {
        return {};
    }
}

QImage VantryMetalEngine::renderOffscreenCGImage(int width, int height, std::optional<float> timeOverride,
                                                 ProgramCanvas canvas) {
    const SharedFrame frame = renderOffscreenShared(width, height, timeOverride, canvas);
    if (!frame) return {};
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.scanLine(y), frame.pixels->data() + std::size_t(y) * std::size_t(width) * 4,
                    std::size_t(width) * 4);
    }
    return image;
}

}  // namespace vantry
