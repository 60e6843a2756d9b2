#include "platform/camera/CameraBackend.h"

#include "platform/camera/QtCameraBackend.h"

namespace vantry::platform {

std::shared_ptr<CameraBackend> makeSystemCameraBackend() {
    return std::make_shared<QtCameraBackend>();
}

}  // namespace vantry::platform
