#include "platform/screen-recorder/LinuxScreenRecorder.h"

// The recorder's state machine: its own thread, on which starts and stops run in order, the one
// running RecordingSession, and what becomes of its file when it stops (moved into place, or
// cut back to whole fragments and kept). The pictures come from ScreenSource.h.

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/files/SafeOutput.h"
#include "platform/media/EncoderChoice.h"
#include "platform/media/H264Encoder.h"
#include "platform/media/MediaRuntime.h"
#include "platform/screen-recorder/CapturePlan.h"
#include "platform/screen-recorder/FragmentTrim.h"
#include "platform/screen-recorder/PortalScreenCast.h"
#include "platform/screen-recorder/RecordingSession.h"
#include "platform/screen-recorder/SafeMove.h"
#include "platform/screen-recorder/ScreenSource.h"

namespace vantry::platform {
namespace fs = std::filesystem;

using screen_recording::RecordingSession;

namespace {

// Hands the outcome to the caller's completion, if it gave one.
void complete(const ScreenRecorder::Completion& handler, std::optional<ScreenRecorderError> error) {
    if (handler) handler(std::move(error));
}

void complete(const ScreenRecorder::Completion& handler, const std::optional<std::string>& error) {
    std::optional<ScreenRecorderError> outcome;
    if (error) outcome = ScreenRecorderError{*error, false};
    complete(handler, std::move(outcome));
}

}  // namespace

struct LinuxScreenRecorder::Impl {
    LinuxScreenRecorderOptions options;
    std::mutex mutex;  // guards the settings below and `last`
    bool microphone = false;
    fs::path scratchFolder;
    ScreenRecordingStats last;
    bool availableOnce = false;

    // The recorder's own thread: starts and stops run here, in order.
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<std::function<void()>> queue;
    bool quitting = false;
    std::thread worker;

    std::unique_ptr<RecordingSession> session;  // worker thread only
    FailureHandler failureHandler;              // under mutex
    std::atomic<std::int64_t> stopRequestedAt{INT64_MAX};

    void log(const std::string& line) const {
        if (options.log) {
            options.log(line);
        } else {
            std::fprintf(stderr, "screen recorder: %s\n", line.c_str());
        }
    }

    void post(std::function<void()> task) {
        std::lock_guard lock(queueMutex);
        queue.push_back(std::move(task));
        queueChanged.notify_one();
    }

    void run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(queueMutex);
                queueChanged.wait(lock, [this] { return quitting || !queue.empty(); });
                if (queue.empty()) return;
                task = std::move(queue.front());
                queue.pop_front();
            }
            task();
        }
    }

    std::optional<ScreenRecorderError> start();
    // Finishes the recording and moves it to outputFile; the error text on failure.
    std::optional<std::string> stopAndSave(const fs::path& outputFile, std::int64_t requestedAt);
    // Stops and finishes the file under its scratch name, its video lasting until endMicros
    // (wall clock); returns the first write error.
    std::string finish(std::int64_t endMicros);
};

std::optional<ScreenRecorderError> LinuxScreenRecorder::Impl::start() {
    const auto failed = [](std::string what) {
        return std::optional<ScreenRecorderError>(ScreenRecorderError{std::move(what), false});
    };
    if (session) return failed("A screen recording is already running.");
    bool mic;
    fs::path folder;
    {
        std::lock_guard lock(mutex);
        mic = microphone;
        folder = scratchFolder.empty() ? fs::temp_directory_path() : scratchFolder;
    }
    std::string why;
    const CapturePath path = capturePath(options, &why);
    const std::string display = displayName(options);
    if (path == CapturePath::none) {
        const bool wayland =
            isWaylandSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"));
        if (options.source == CaptureSourceChoice::portal ||
            (options.source == CaptureSourceChoice::automatic && options.display.empty() && wayland))
            return failed("Cannot capture the screen through the desktop portal: " + why + ".");
        return failed("There is no X display to record.");
    }

    auto s = std::make_unique<RecordingSession>();
    s->options = options;
    s->stats.path = path;
    s->log = [this](const std::string& line) { log(line); };
    s->onWriteFailure = [this](const std::string& what) {
        log(what + "; the recording stops now");
        post([this, what] {
            FailureHandler handler;
            {
                std::lock_guard lock(mutex);
                handler = failureHandler;
            }
            if (handler) handler(ScreenRecorderError{what, false});
        });
    };
    stopRequestedAt = INT64_MAX;
    s->stopAt = &stopRequestedAt;

    try {
        s->stats.encoder = media::pickH264(options.encoder);
    } catch (const media::MediaError& e) {
        return failed(std::string(e.what()) + ".");
    }
    if (path == CapturePath::portal) {
        if (auto error = s->openPortal()) return error;
    } else if (auto error = s->openX11Screen(display)) {
        return failed(*error);
    }
    const CapturePlan capture = s->plan(s->stats.encoder);
    if (!capture.note.empty()) log(capture.note);
    s->openAudio(mic);

    std::error_code ec;
    fs::create_directories(folder, ec);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    s->stats.scratchFile =
        folder /
        ("CreatorRec_" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count()) + "_" +
         std::to_string(::getpid()) + ".partial.mp4");
    s->stats.width = capture.width;
    s->stats.height = capture.height;
    s->stats.videoBitRate = bitRateFor(capture.width, capture.height, options.fps);
    if (auto error = s->openOutput(capture, mic)) return failed(*error);

    {
        std::lock_guard lock(mutex);
        last = s->stats;
    }
    s->begin();
    session = std::move(s);
    return std::nullopt;
}

std::string LinuxScreenRecorder::Impl::finish(std::int64_t endMicros) {
    const std::string error = session->finish(endMicros);
    {
        std::lock_guard lock(mutex);
        last = session->stats;
    }
    session.reset();
    return error;
}

LinuxScreenRecorder::LinuxScreenRecorder(LinuxScreenRecorderOptions options)
    : impl_(std::make_shared<Impl>()) {
    if (options.fps <= 0) options.fps = 30;
    impl_->options = std::move(options);
    impl_->worker = std::thread([impl = impl_.get()] { impl->run(); });
}

LinuxScreenRecorder::~LinuxScreenRecorder() {
    Impl* impl = impl_.get();
    impl->post([impl] {
        if (!impl->session) return;
        const fs::path scratch = impl->session->stats.scratchFile;
        if (!impl->finish(av_gettime()).empty()) {
            try {
                trimToCompleteFragments(scratch);  // a failed write may have cut a fragment
            } catch (const fs::filesystem_error&) {
            }
        }
        impl->log("the recording was not stopped; it is kept at " + scratch.string());
    });
    {
        std::lock_guard lock(impl->queueMutex);
        impl->quitting = true;
        impl->queueChanged.notify_one();
    }
    impl->worker.join();
}

std::string LinuxScreenRecorder::displayName(const LinuxScreenRecorderOptions& options) {
    if (!options.display.empty()) return options.display;
    const char* env = std::getenv("DISPLAY");
    return env ? env : "";
}

std::int64_t LinuxScreenRecorder::bitRateFor(int width, int height, int fps) {
    const double bits = double(width) * double(height) * double(fps) * 0.1;
    return static_cast<std::int64_t>(std::clamp(bits, 1'000'000.0, 16'000'000.0));
}

CapturePath LinuxScreenRecorder::capturePath(const LinuxScreenRecorderOptions& options, std::string* why) {
    CaptureSessionFacts facts;
    facts.xDisplay = !displayName(options).empty();
    facts.waylandSession = isWaylandSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"));
    // An X display named by the caller is what it wants recorded.
    CaptureSourceChoice choice = options.source;
    if (choice == CaptureSourceChoice::automatic && !options.display.empty())
        choice = CaptureSourceChoice::x11;
    std::string portalWhy;
    const bool askPortal = choice == CaptureSourceChoice::portal ||
                           (choice == CaptureSourceChoice::automatic && facts.waylandSession);
    if (askPortal) facts.portalAnswers = PortalScreenCast::version(&portalWhy) > 0;
    const CapturePath path = chooseCapturePath(choice, facts);
    if (why && path == CapturePath::none) {
        if (!portalWhy.empty())
            *why = portalWhy;
        else
            *why = facts.xDisplay ? "the X display cannot be used here" : "DISPLAY is not set";
    }
    return path;
}

bool LinuxScreenRecorder::isAvailable() {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->availableOnce) return true;
    }
    const CapturePath path = capturePath(impl_->options);
    if (path == CapturePath::none) return false;
    if (path == CapturePath::portal) {
        std::lock_guard lock(impl_->mutex);
        impl_->availableOnce = true;
        return true;
    }
    const std::string display = displayName(impl_->options);
    std::string error;
    AVFormatContext* probe = screen_recording::openScreen(display, 0, nullptr, error);
    if (!probe) return false;
    avformat_close_input(&probe);
    std::lock_guard lock(impl_->mutex);
    impl_->availableOnce = true;
    return true;
}

void LinuxScreenRecorder::setMicrophoneEnabled(bool enabled) {
    std::lock_guard lock(impl_->mutex);
    impl_->microphone = enabled;
}

// The camera is part of the recorded screen (the facecam overlay); there is no separate track.
void LinuxScreenRecorder::setCameraEnabled(bool) {}

void LinuxScreenRecorder::setScratchFolder(const fs::path& folder) {
    std::lock_guard lock(impl_->mutex);
    impl_->scratchFolder = folder;
}

void LinuxScreenRecorder::setFailureHandler(FailureHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->failureHandler = std::move(handler);
}

void LinuxScreenRecorder::startRecording(Completion handler) {
    Impl* impl = impl_.get();
    impl->post([impl, handler = std::move(handler)] {
        std::optional<ScreenRecorderError> outcome = impl->start();
        complete(handler, std::move(outcome));
    });
}

std::optional<std::string> LinuxScreenRecorder::Impl::stopAndSave(const fs::path& outputFile,
                                                                  std::int64_t requestedAt) {
    if (!session) return "No screen recording is running.";
    const fs::path scratch = session->stats.scratchFile;
    const std::string writeError = finish(requestedAt);
    if (!writeError.empty()) {
        // What reached the disk may end inside a fragment: only whole fragments play.
        std::string kept;
        try {
            const FragmentedMp4Extent extent = trimToCompleteFragments(scratch);
            kept =
                extent.fragments > 0
                    ? "what was recorded up to its last complete fragment is kept in " + scratch.string()
                    : "no complete fragment was written; the unplayable start is kept in " + scratch.string();
        } catch (const fs::filesystem_error& e) {
            kept = "the partial recording " + scratch.string() + " could not be cut back to its last " +
                   "complete fragment (" + e.code().message() + ")";
        }
        log(writeError + "; " + kept);
        return "The recording stopped early (" + writeError + "); " + kept + ".";
    }
    try {
        if (outputFile.has_parent_path()) fs::create_directories(outputFile.parent_path());
        moveFileIntoPlace(scratch, outputFile);
    } catch (const fs::filesystem_error& e) {
        const std::string why = describeOutputError(e);
        log("cannot move the recording to " + outputFile.string() + ": " + why + "; it is kept at " +
            scratch.string());
        return "The recording could not be saved as " + outputFile.filename().string() + " (" + why +
               "); it is kept at " + scratch.string() + ".";
    }
    std::lock_guard lock(mutex);
    last.scratchFile = outputFile;
    return std::nullopt;
}

void LinuxScreenRecorder::stopRecording(const fs::path& outputFile, Completion handler) {
    Impl* impl = impl_.get();
    const std::int64_t requestedAt = av_gettime();
    impl->stopRequestedAt = requestedAt;
    impl->post([impl, outputFile, requestedAt, handler = std::move(handler)] {
        complete(handler, impl->stopAndSave(outputFile, requestedAt));
    });
}

bool LinuxScreenRecorder::lastRecordingHasSound() const {
    return lastStats().hasAudio;
}

ScreenRecordingStats LinuxScreenRecorder::lastStats() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->last;
}

}  // namespace vantry::platform
