// Screen recording on Linux: the whole X screen of a display through FFmpeg's x11grab, or on a
// Wayland session the screen or window the user picks in the desktop portal's dialog (read from
// its PipeWire stream, PortalScreenCast.h and PipeWireCapture.h); game audio (the monitor of the sound
// server's default output) and optionally the microphone (its default input) through the media layer's
// PulseAudio capture, H.264 (x264 or a hardware encoder) + AAC in a fragmented MP4.
//
// While recording the file grows under a scratch name (fragments at every key frame, so a
// crash leaves a playable file up to the last one); stop finishes it and moves it to the
// requested name. A failed write (a full disk) ends the capture at once, tells the failure
// handler, and stop then cuts the file back to its last complete fragment and keeps it under
// the scratch name. The recorder runs on its own threads; no call waits for the capture.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/media/EncoderChoice.h"
#include "platform/screen-recorder/CaptureSource.h"
#include "platform/screen-recorder/ScreenRecorder.h"

namespace vantry::platform {

class ProgrammeSound;

struct LinuxScreenRecorderOptions {
    std::string display;  // empty: $DISPLAY; set, the automatic choice takes this X display
    // Which capture path: automatic picks the portal on a Wayland session, x11grab on X11.
    CaptureSourceChoice source = CaptureSourceChoice::automatic;
    // Where the portal's restore token is kept (empty: screenCastSettingsFile()).
    std::filesystem::path portalSettingsFile;
    // How long the desktop's dialog may wait for the user's choice.
    int portalDialogTimeoutMs = 300'000;
    std::string monitorSource = "@DEFAULT_MONITOR@";  // "game audio"
    std::string microphoneSource = "default";
    bool captureAudio = true;  // false: never contact the sound server
    // The programme mix the recording carries (the microphone left out of it while the
    // microphone is off). None: a mix of the recording's own of monitorSource and, with the
    // microphone on, microphoneSource.
    std::shared_ptr<ProgrammeSound> sound;
    int fps = 30;
    std::string preset = "veryfast";  // x264 preset, as the project's video writer uses
    // H.264 encoder; a hardware one records the screen at its full size.
    media::H264Choice encoder = media::H264Choice::automatic;
    // Cores the encoder may count on (0: the machine's); a screen too big for them is scaled
    // down or encoded with a faster preset (CapturePlan.h), and the log says which.
    int encoderCores = 0;
    // Receives one line per event worth a user's notice (sound missing, frames repeated,
    // where a partial file was kept). Default: standard error, prefixed "screen recorder: ".
    std::function<void(const std::string&)> log;
};

// Facts of the last finished (or the running) recording.
struct ScreenRecordingStats {
    int width = 0;
    int height = 0;
    std::int64_t framesWritten = 0;   // video frames in the file, at a constant rate
    std::int64_t framesRepeated = 0;  // of those, copies of the frame before (grab came late)
    std::int64_t videoBitRate = 0;
    bool hasAudio = false;
    bool microphoneMixed = false;
    media::H264Backend encoder = media::H264Backend::x264;
    CapturePath path = CapturePath::none;
    std::filesystem::path scratchFile;
};

class LinuxScreenRecorder : public ScreenRecorder {
  public:
    explicit LinuxScreenRecorder(LinuxScreenRecorderOptions options = {});
    // A running recording is finished under its scratch name (and logged), not moved.
    ~LinuxScreenRecorder() override;

    bool isAvailable() override;
    void setMicrophoneEnabled(bool enabled) override;
    void setCameraEnabled(bool enabled) override;
    void setScratchFolder(const std::filesystem::path& folder) override;
    void setFailureHandler(FailureHandler handler) override;
    bool lastRecordingHasSound() const override;
    void startRecording(Completion handler) override;
    void stopRecording(const std::filesystem::path& outputFile, Completion handler) override;

    ScreenRecordingStats lastStats() const;

    // Average H.264 rate for a screen: 0.1 bit per pixel per frame, within 1..16 Mbit/s
    // (about 6.2 Mbit/s for 1920 x 1080 at 30 fps).
    static std::int64_t bitRateFor(int width, int height, int fps);
    // The display a recorder with these options captures ("" when there is none).
    static std::string displayName(const LinuxScreenRecorderOptions& options);
    // The path a recorder with these options takes on this session (asks the session bus
    // whether the portal answers where that matters); `why` says why when it is none.
    static CapturePath capturePath(const LinuxScreenRecorderOptions& options, std::string* why = nullptr);
    // The status text of a start the user cancelled in the desktop's dialog.
    static constexpr const char* kCancelledText =
        "Recording not started: the screen choice was cancelled in the desktop's dialog.";

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace vantry::platform
