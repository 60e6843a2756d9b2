#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"

#include <cstring>
#include <exception>
#include <mutex>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "creator/studio-overlay/SerialQueue.h"

namespace vantry::creator {

using platform::CameraAuthorization;

struct OruCreatorCameraFeedV1045::Core {
    Core(std::shared_ptr<platform::CameraBackend> cam, SegmenterFactory factory)
        : queue(kQueueLabel), camera(std::move(cam)), segmenterFactory(std::move(factory)) {}

    SerialQueue queue;
    std::shared_ptr<platform::CameraBackend> camera;

    // Settings crossing threads, held only for the copy or the store.
    std::mutex lock;
    OruFacecamBackgroundModeV1045 bgMode = OruFacecamBackgroundModeV1045::cutoutNoBackground;
    bool mirrored = true;
    bool refineEdges = true;

    // Camera queue only.
    bool isConfigured = false;
    bool isRunning = false;
    SegmenterFactory segmenterFactory;
    std::unique_ptr<platform::PersonSegmenter> segmenter;
    bool segmenterTried = false;
    FacecamFrameProcessor processor;
    cv::Mat working;

    mutable std::mutex errorMutex;
    std::string segmentationError;

    std::mutex callbackMutex;
    FrameCallback onFrameReady;

    // The one frame waiting for the queue.
    std::mutex pendingMutex;
    cv::Mat pending;
    bool frameTaskQueued = false;
};

namespace {

using Core = OruCreatorCameraFeedV1045::Core;

void processFrame(Core& core, const cv::Mat& frame) {
    FacecamFrameSettings settings;
    {
        std::lock_guard lock(core.lock);
        settings.mode = core.bgMode;
        settings.mirrored = core.mirrored;
        settings.refineEdges = core.refineEdges;
    }
    if (settings.mode != OruFacecamBackgroundModeV1045::fullCamera && !core.segmenterTried) {
        core.segmenterTried = true;
        try {
            if (core.segmenterFactory) core.segmenter = core.segmenterFactory();
        } catch (const std::exception& e) {
            std::lock_guard lock(core.errorMutex);
            core.segmentationError = e.what();
        }
        core.processor.setSegmenter(core.segmenter.get());
    }
    const QImage image = core.processor.process(frame, settings);
    if (image.isNull()) return;
    OruCreatorCameraFeedV1045::FrameCallback callback;
    {
        std::lock_guard lock(core.callbackMutex);
        callback = core.onFrameReady;
    }
    if (callback) callback(image);
}

void processPending(const std::weak_ptr<Core>& weak) {
    auto core = weak.lock();
    if (!core) return;
    {
        std::lock_guard lock(core->pendingMutex);
        cv::swap(core->pending, core->working);
        core->frameTaskQueued = false;
    }
    processFrame(*core, core->working);
}

// Keeps a copy of the frame as the one waiting frame and queues its processing unless a task
// for a waiting frame is queued already (that task will then take this newer frame).
void acceptFrame(const std::shared_ptr<Core>& core, const platform::CameraFrameView& view) {
    if (view.pixels == nullptr || view.width <= 0 || view.height <= 0 || view.bytesPerRow < view.width * 4)
        return;
    bool queueTask = false;
    {
        std::lock_guard lock(core->pendingMutex);
        core->pending.create(view.height, view.width, CV_8UC4);
        for (int y = 0; y < view.height; ++y) {
            std::memcpy(core->pending.ptr(y), view.pixels + std::ptrdiff_t(y) * view.bytesPerRow,
                        std::size_t(view.width) * 4);
        }
        queueTask = !core->frameTaskQueued;
        core->frameTaskQueued = true;
    }
    if (queueTask) core->queue.async([weak = std::weak_ptr<Core>(core)] { processPending(weak); });
}

void configureAndRun(const std::shared_ptr<Core>& core, OruCreatorCameraFeedV1045::Completion completion) {
    core->queue.async([weak = std::weak_ptr<Core>(core), completion = std::move(completion)] {
        auto c = weak.lock();
        if (!c) return;
        if (!c->isConfigured) {
            c->camera->beginConfiguration();
            if (!c->camera->addCameraInput()) {
                c->camera->commitConfiguration();
                if (completion) completion(false, OruCreatorCameraFeedV1045::kNoCameraMessage);
                return;
            }
            // The output holds the feed weakly; a failed add still counts as configured.
            c->camera->addFrameOutput([weak](const platform::CameraFrameView& view) {
                if (auto target = weak.lock()) acceptFrame(target, view);
            });
            c->camera->commitConfiguration();
            c->isConfigured = true;
        }
        if (!c->isRunning) {
            c->camera->startRunning();
            c->isRunning = true;
        }
        if (completion) completion(true, OruCreatorCameraFeedV1045::kLiveMessage);
    });
}

}  // namespace

OruCreatorCameraFeedV1045::OruCreatorCameraFeedV1045()
    : OruCreatorCameraFeedV1045(platform::makeDefaultCameraBackend(), [] {
          return std::unique_ptr<platform::PersonSegmenter>(
              std::make_unique<platform::OnnxPersonSegmenter>(platform::SegmentationModel::general));
      }) {}

OruCreatorCameraFeedV1045::OruCreatorCameraFeedV1045(std::shared_ptr<platform::CameraBackend> camera,
                                                     SegmenterFactory segmenterFactory)
    : core_(std::make_shared<Core>(std::move(camera), std::move(segmenterFactory))) {}

OruCreatorCameraFeedV1045::~OruCreatorCameraFeedV1045() {
    core_->queue.shutdown();
}

void OruCreatorCameraFeedV1045::updateSettings(OruFacecamBackgroundModeV1045 bgMode, bool mirrored) {
    std::lock_guard lock(core_->lock);
    core_->bgMode = bgMode;
    core_->mirrored = mirrored;
}

void OruCreatorCameraFeedV1045::setRefineEdges(bool refine) {
    std::lock_guard lock(core_->lock);
    core_->refineEdges = refine;
}

void OruCreatorCameraFeedV1045::start(Completion completion) {
    switch (core_->camera->authorizationStatus()) {
        case CameraAuthorization::authorized:
            configureAndRun(core_, std::move(completion));
            return;
        case CameraAuthorization::notDetermined:
            core_->camera->requestAccess([weak = std::weak_ptr<Core>(core_),
                                          completion = std::move(completion)](bool granted) mutable {
                if (!granted) {
                    if (completion) completion(false, kPermissionDeniedMessage);
                    return;
                }
                if (auto core = weak.lock()) configureAndRun(core, std::move(completion));
            });
            return;
        case CameraAuthorization::restricted:
        case CameraAuthorization::denied:
            break;
    }
    if (completion) completion(false, kRestrictedMessage);
}

void OruCreatorCameraFeedV1045::stop() {
    core_->queue.async([weak = std::weak_ptr<Core>(core_)] {
        auto core = weak.lock();
        if (!core || !core->isRunning) return;
        core->camera->stopRunning();
        core->isRunning = false;
    });
}

void OruCreatorCameraFeedV1045::setOnFrameReady(FrameCallback callback) {
    std::lock_guard lock(core_->callbackMutex);
    core_->onFrameReady = std::move(callback);
}

void OruCreatorCameraFeedV1045::captureOutput(const platform::CameraFrameView& frame) {
    acceptFrame(core_, frame);
}

std::string OruCreatorCameraFeedV1045::segmentationError() const {
    std::lock_guard lock(core_->errorMutex);
    return core_->segmentationError;
}

}  // namespace vantry::creator
