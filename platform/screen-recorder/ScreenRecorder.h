// The screen recorder as the creator studio sees it: availability, the microphone and camera
// switches, start with a completion, and stop-and-write-to-a-file with a completion.
//
// Completions run on the recorder's own thread, never on the caller's, and never while a
// call into the recorder is still on the stack.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantry::platform {

// A failed start or stop: a readable description of what went wrong.
struct ScreenRecorderError {
    std::string localizedDescription;
    // The user declined to pick a screen (no file was made): a status to show, not a failure.
    bool cancelled = false;
};

class ScreenRecorder {
  public:
    using Completion = std::function<void(std::optional<ScreenRecorderError> error)>;
    using FailureHandler = std::function<void(ScreenRecorderError error)>;

    virtual ~ScreenRecorder() = default;

    // Whether recording can start at all on this session (a display that can be captured).
    virtual bool isAvailable() = 0;
    // Takes effect from the next start.
    virtual void setMicrophoneEnabled(bool enabled) = 0;
    virtual void setCameraEnabled(bool enabled) = 0;
    // Where the recording is written while it runs (the default is the system's temporary
    // folder); takes effect from the next start.
    virtual void setScratchFolder(const std::filesystem::path& folder) = 0;

    // Called when a running recording fails on its own (its file can no longer be written):
    // the capture has then already stopped, and stopRecording finishes what was kept and says
    // where it is. Runs on the recorder's thread, at most once per recording.
    virtual void setFailureHandler(FailureHandler handler) { (void)handler; }

    // Whether the running (or last) recording carries sound; false when no sound source could
    // be opened and the file has video only. Meaningful once the start has completed.
    virtual bool lastRecordingHasSound() const { return true; }

    virtual void startRecording(Completion handler) = 0;
    // Finishes the running recording and moves it to outputFile (replacing a file there).
    virtual void stopRecording(const std::filesystem::path& outputFile, Completion handler) = 0;

    // The process-wide recorder of this session's display, created on first use.
    static std::shared_ptr<ScreenRecorder> shared();
};

}  // namespace vantry::platform
