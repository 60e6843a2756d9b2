// CameraBackend over Qt Multimedia (QMediaDevices, QCamera, QMediaCaptureSession, QVideoSink).
#pragma once

#include <memory>
#include <mutex>

#include "platform/camera/CameraBackend.h"

namespace vantry::platform {

class QtCameraBackend final : public CameraBackend {
  public:
    QtCameraBackend();
    ~QtCameraBackend() override;

    // Linux has no camera permission prompt: "authorized" unless every video device node exists
    // but cannot be opened for lack of permission ("denied").
    CameraAuthorization authorizationStatus() override;
    void requestAccess(std::function<void(bool)> handler) override;

    void beginConfiguration() override {}
    bool addCameraInput() override;
    bool addFrameOutput(CameraFrameSink sink) override;
    void commitConfiguration() override {}

    void startRunning() override;
    void stopRunning() override;

  private:
    struct Objects;
    std::shared_ptr<Objects> objects_;
    std::mutex sinkMutex_;
    CameraFrameSink sink_;
};

}  // namespace vantry::platform
