#include "platform/camera/CameraBackend.h"

#include <mutex>

#include "platform/camera/FileCameraBackend.h"
#include "platform/camera/QtCameraBackend.h"

namespace vantry::platform {

namespace {

std::mutex& defaultFileMutex() {
    static std::mutex m;
    return m;
}

std::filesystem::path& defaultFile() {
    static std::filesystem::path file;
    return file;
}

}  // namespace

std::shared_ptr<CameraBackend> makeSystemCameraBackend() {
    return std::make_shared<QtCameraBackend>();
}

std::shared_ptr<CameraBackend> makeFileCameraBackend(const std::filesystem::path& file) {
    return std::make_shared<FileCameraBackend>(file);
}

void setDefaultCameraFile(const std::filesystem::path& file) {
    std::lock_guard lock(defaultFileMutex());
    defaultFile() = file;
}

std::filesystem::path defaultCameraFile() {
    std::lock_guard lock(defaultFileMutex());
    return defaultFile();
}

std::shared_ptr<CameraBackend> makeDefaultCameraBackend() {
    const std::filesystem::path file = defaultCameraFile();
    return file.empty() ? makeSystemCameraBackend() : makeFileCameraBackend(file);
}

}  // namespace vantry::platform
