// The camera as the facecam sees it: permission, one capture input, one frame output.
//
// The feed drives it from its own serial queue; frames come back through a sink on whatever
// thread the camera stack uses. QtCameraBackend is the real one; tests use a fake.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace vantry::platform {

// Raw values as the camera permission reports them.
enum class CameraAuthorization : int {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorized = 3,
};

// One BGRA frame (bytes B, G, R, A per pixel). The pixels are only valid during the call.
struct CameraFrameView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
};
using CameraFrameSink = std::function<void(const CameraFrameView&)>;

class CameraBackend {
  public:
    virtual ~CameraBackend() = default;

    virtual CameraAuthorization authorizationStatus() = 0;
    // Asks the user; the handler receives the answer on any thread.
    virtual void requestAccess(std::function<void(bool granted)> handler) = 0;

    // Session configuration, in this order, between begin and commit.
    virtual void beginConfiguration() = 0;
    // Picks the front camera, else the default one, for a picture nearest 640 x 480, and adds it
    // as the session's input. False when there is no camera or it cannot be opened or added.
    virtual bool addCameraInput() = 0;
    // Adds the BGRA frame output that calls sink for each frame, discarding late frames.
    // False when the output cannot be added.
    virtual bool addFrameOutput(CameraFrameSink sink) = 0;
    virtual void commitConfiguration() = 0;

    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;
};

// The system camera through Qt Multimedia.
std::shared_ptr<CameraBackend> makeSystemCameraBackend();

// A picture or video file played as a camera (FileCameraBackend).
std::shared_ptr<CameraBackend> makeFileCameraBackend(const std::filesystem::path& file);

// The camera the facecam opens: the file chosen with setDefaultCameraFile, else the system
// camera. The choice is process-wide (the studio's --camera option); an empty path clears it.
void setDefaultCameraFile(const std::filesystem::path& file);
std::filesystem::path defaultCameraFile();
std::shared_ptr<CameraBackend> makeDefaultCameraBackend();

}  // namespace vantry::platform
