// A camera that plays a file: a still picture (repeated at 30 frames per second) or a video
// (looping, at its own frame rate). Frames keep the file's own size and aspect; nothing is
// stretched (a still picture over kMaxPictureSide pixels a side is scaled down to fit). Used
// where there is no webcam, and to try the cutout on a recorded clip.
#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/camera/CameraBackend.h"

namespace vantry::platform {

// Decoded frames of a picture or video file, one after another, looping at the end.
class CameraFileSource {
  public:
    virtual ~CameraFileSource() = default;
    // Seconds between two frames.
    virtual double frameInterval() const = 0;
    // The next frame (valid until the next call), starting over after the last one.
    // False when the file stopped decoding.
    virtual bool nextFrame(CameraFrameView& frame) = 0;
};

// Camera files larger than this are refused before anything reads them.
inline constexpr std::uintmax_t kMaxCameraVideoBytes = std::uintmax_t(16) << 30;
inline constexpr std::uintmax_t kMaxCameraPictureBytes = std::uintmax_t(256) << 20;

// Opens a picture (any format Qt reads, EXIF orientation applied) or a video (FFmpeg).
// Throws std::runtime_error with a readable reason when the file cannot be read: "it is a named
// pipe", "it is a folder", "it is a device", "it is empty", "it is larger than N bytes" (the
// file is checked, opened without blocking, before a reader gets it).
std::unique_ptr<CameraFileSource> openCameraFileSource(const std::filesystem::path& file);

// One still picture from a file, EXIF orientation applied, scaled down to kMaxPictureSide.
// Throws std::runtime_error with the reason as openCameraFileSource, or "it is not a picture
// (...)" when no image reader can decode it.
QImage readCameraPicture(const std::filesystem::path& file);

class FileCameraBackend final : public CameraBackend {
  public:
    static constexpr double kStillFrameRate = 30.0;
    // A still picture with a longer side is scaled down to it, keeping its aspect, when read.
    static constexpr int kMaxPictureSide = 4096;

    explicit FileCameraBackend(std::filesystem::path file);
    ~FileCameraBackend() override;
    FileCameraBackend(const FileCameraBackend&) = delete;
    FileCameraBackend& operator=(const FileCameraBackend&) = delete;

    // A file needs no permission.
    CameraAuthorization authorizationStatus() override { return CameraAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> handler) override;

    void beginConfiguration() override {}
    // Opens the file; false (with one line on standard error) when it cannot be read.
    bool addCameraInput() override;
    bool addFrameOutput(CameraFrameSink sink) override;
    void commitConfiguration() override {}

    // Frames are delivered on the backend's own thread while running.
    void startRunning() override;
    void stopRunning() override;

    const std::filesystem::path& file() const { return file_; }
    // Why the file could not be opened, or empty.
    std::string openError() const;

    struct Player;

  private:
    std::filesystem::path file_;
    std::shared_ptr<Player> player_;
};

}  // namespace vantry::platform
