// The facecam feed: the front camera turned into finished facecam pictures, with the person
// separated from the background by a segmentation network (never a colour key).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QImage>

#include "creator/studio-overlay/FacecamTypes.h"
#include "platform/camera/CameraBackend.h"
#include "platform/segmentation/PersonSegmenter.h"

namespace vantry::creator {

class OruCreatorCameraFeedV1045 {
  public:
    using Completion = std::function<void(bool success, const std::string& message)>;
    using FrameCallback = std::function<void(const QImage& image)>;
    using SegmenterFactory = std::function<std::unique_ptr<platform::PersonSegmenter>()>;

    static constexpr const char* kQueueLabel = "com.vantrypro.creator.facecam";
    static constexpr const char* kLiveMessage = "Live Camera Active";
    static constexpr const char* kRestrictedMessage = "Camera restricted — using Studio Preview";
    static constexpr const char* kPermissionDeniedMessage = "Camera permission denied — using Studio Preview";
    static constexpr const char* kNoCameraMessage = "No front camera detected — using Studio Preview";

    // The default camera (platform::makeDefaultCameraBackend) and the general segmentation model (loaded on
    // the first frame that needs it).
    OruCreatorCameraFeedV1045();
    // A chosen camera and segmenter factory (called once, on the camera queue, when first needed;
    // it may throw, and the frames are then shown unsegmented).
    OruCreatorCameraFeedV1045(std::shared_ptr<platform::CameraBackend> camera,
                              SegmenterFactory segmenterFactory);
    // Stops the queue (a frame in progress finishes); no completion or frame callback runs afterwards.
    ~OruCreatorCameraFeedV1045();
    OruCreatorCameraFeedV1045(const OruCreatorCameraFeedV1045&) = delete;
    OruCreatorCameraFeedV1045& operator=(const OruCreatorCameraFeedV1045&) = delete;

    // Takes effect from the next frame processed.
    void updateSettings(OruFacecamBackgroundModeV1045 bgMode, bool mirrored);
    // Steady, picture-fitted mask edges (on at construction); takes effect from the next frame.
    void setRefineEdges(bool refine);
    // Asks for permission when needed, configures the session once and starts it; the completion
    // gets the outcome and one of the k...Message texts (on the camera queue or the caller's thread).
    void start(Completion completion);
    void stop();
    // Called on the camera queue with every finished picture (premultiplied ARGB32).
    void setOnFrameReady(FrameCallback callback);

    // Hands one camera frame to the queue. A frame still waiting when the next arrives is
    // replaced: late frames are dropped, never queued.
    void captureOutput(const platform::CameraFrameView& frame);

    // Why segmentation is unavailable (the model could not be loaded), or empty.
    std::string segmentationError() const;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

}  // namespace vantry::creator
