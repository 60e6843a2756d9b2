// Renders a short vertical (1080 x 1920) highlight video in software and writes
// it as an H.264 MP4: a still image slowly pushed in (or a drawn placeholder
// scene), an impact shake, title and footer bands, a recording dot, a progress
// bar and three lines of text.
#pragma once

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "creator/clips-and-juice/OruViralClipReceiptV1030.h"

namespace vantry::creator {

// The exporter's own failures, in the "CorvellaClipper" domain (code 1: the
// video input could not be attached; code 2: writing failed without a reason).
// what() is the localized description.
class OruViralClipperError : public std::runtime_error {
  public:
    OruViralClipperError(int code, const std::string& description)
        : std::runtime_error(description), code_(code) {}
    static constexpr const char* kDomain = "CorvellaClipper";
    const char* domain() const { return kDomain; }
    int code() const { return code_; }

  private:
    int code_;
};

namespace OruViralAutoClipper9x16V1030 {

// Frames done and frames total, called on the exporting thread after each frame.
using ClipProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// The clips folder shared with screen recordings: "CorvellaClips" in the user's
// movies (XDG videos) folder. Each call tries to create it; a failure is ignored.
std::filesystem::path defaultClipsDirectory();

// Writes the clip and blocks until the file is finished. Without outputURL the
// clip goes to defaultClipsDirectory() under a name made from the title and the
// current Unix time. The clip is written beside the destination and replaces an
// existing file or link only when complete; anything else there is refused.
// Throws std::filesystem::filesystem_error (folder, destination, size),
// vantry::platform::VideoWriterError (the writer's own errors),
// OruViralClipperError (see above), or std::invalid_argument for fps <= 0 or a
// duration that gives no finite frame count. Safe to run concurrently to
// different files.
OruViralClipReceiptV1030 exportVerticalViralClip(
    const std::string& gameTitle, const std::string& highlightHeadline, const std::string& statBadge,
    const std::optional<QImage>& sourceGameplayImage, const std::optional<std::filesystem::path>& outputURL,
    double durationSeconds, int fps, const ClipProgress& progress = {});

// Draws frame `frameIndex` of `frameCount` into a 1080 x 1920 ARGB32
// premultiplied image (exposed for tests and previews).
void drawClipFrame(QImage& target, std::int64_t frameIndex, std::int64_t frameCount, const QString& gameTitle,
                   const QString& highlightHeadline, const QString& statBadge, const QImage* sourceImage);

}  // namespace OruViralAutoClipper9x16V1030
}  // namespace vantry::creator
