#include "creator/studio-overlay/CreatorRecorder.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/studio-overlay/CreatorStudioMath.h"
#include "platform/dispatch/MainThreadDispatcher.h"

namespace vantry::creator {
namespace {

double systemNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

// One start or stop the recorder works on. The recorder's thread fills in the result; the
// main thread applies it once, from the task the completion posts or from finishNow().
struct CreatorRecorder::Flight {
    bool microphone = false;
    // A stop: where the recording goes. A start: where it goes should no one own it any more.
    std::filesystem::path file;
    Answer answer;         // main thread
    bool applied = false;  // main thread

    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::optional<platform::ScreenRecorderError> error;

    void finish(std::optional<platform::ScreenRecorderError> result) {
        std::lock_guard lock(mutex);
        error = std::move(result);
        done = true;
        doneChanged.notify_all();
    }
    bool waitFor(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex);
        return doneChanged.wait_until(lock, deadline, [this] { return done; });
    }
    std::optional<platform::ScreenRecorderError> result() {
        std::lock_guard lock(mutex);
        return error;
    }
};

// Owned by the recorder object and reset in its destructor, on the main thread. Callbacks hold
// it weakly; a main-thread task that can still lock it knows the object is alive.
struct CreatorRecorder::Link {
    CreatorRecorder* owner;
};

CreatorRecorder::CreatorRecorder(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)), link_(std::make_shared<Link>(Link{this})) {
    if (!services_.now) services_.now = systemNow;
    if (!services_.clipsDirectory)
        services_.clipsDirectory = OruViralAutoClipper9x16V1030::defaultClipsDirectory;
}

CreatorRecorder::~CreatorRecorder() {
    link_.reset();
    // The screen is never recorded with no one to stop it.
    if (state_ == State::recording && services_.recorder)
        services_.recorder->stopRecording(fileFor(QString()), {});
}

std::shared_ptr<CreatorRecorder> CreatorRecorder::shared() {
    static const std::shared_ptr<CreatorRecorder> recorder = std::make_shared<CreatorRecorder>();
    return recorder;
}

std::filesystem::path CreatorRecorder::fileFor(const QString& title) const {
    return services_.clipsDirectory() / studio::recordingFileName(title.toStdString(), services_.now());
}

void CreatorRecorder::setState(State state) {
    const bool wasRecording = isRecording();
    const bool wasSaving = isSaving();
    if (state_ == state) return;
    state_ = state;
    emit stateChanged();
    if (wasRecording != isRecording()) emit isRecordingChanged();
    if (wasSaving != isSaving()) emit isSavingChanged();
}

void CreatorRecorder::refuse(RecordingOutcome::Kind kind, const char* text, const Answer& answer) {
    if (answer) answer(RecordingOutcome{kind, QString::fromUtf8(text), text, {}});
}

void CreatorRecorder::announce(const RecordingOutcome& result, const Answer& answer) {
    emit outcome(result);
    if (answer) answer(result);
}

void CreatorRecorder::start(bool microphone, Answer answer) {
    using Kind = RecordingOutcome::Kind;
    switch (state_) {
        case State::recording:
            return refuse(Kind::alreadyRunning, kAlreadyRunningText, answer);
        case State::starting:
            return refuse(Kind::starting, kStartingText, answer);
        case State::stopping:
            return refuse(Kind::saving, kSavingText, answer);
        case State::idle:
            break;
    }
    if (!services_.recorder) services_.recorder = platform::ScreenRecorder::shared();
    platform::ScreenRecorder& recorder = *services_.recorder;
    if (!recorder.isAvailable()) {
        announce(RecordingOutcome{Kind::unavailable,
                                  QString::fromUtf8(kRecorderUnavailableMessage),
                                  "the screen cannot be recorded on this session",
                                  {}},
                 answer);
        return;
    }
    recorder.setMicrophoneEnabled(microphone);
    recorder.setCameraEnabled(false);
    recorder.setScratchFolder(services_.clipsDirectory());
    const std::weak_ptr<Link> weak = link_;
    // A recording that fails on its own (its file can no longer be written, a full disk) says
    // so and ends at once: the stop keeps what was written and its note says where.
    recorder.setFailureHandler([weak](platform::ScreenRecorderError error) {
        platform::postToMain([weak, text = error.localizedDescription] {
            if (auto link = weak.lock()) link->owner->failed(text);
        });
    });

    auto flight = std::make_shared<Flight>();
    flight->microphone = microphone;
    flight->file = fileFor(QString());
    flight->answer = std::move(answer);
    flight_ = flight;
    endWhenStarted_ = false;
    setState(State::starting);
    // Weakly: the completion lives in the recorder's own queue.
    const std::weak_ptr<platform::ScreenRecorder> weakRecorder = services_.recorder;
    recorder.startRecording([flight, weak, weakRecorder](std::optional<platform::ScreenRecorderError> error) {
        flight->finish(std::move(error));
        platform::postToMain([flight, weak, weakRecorder] {
            if (auto link = weak.lock()) {
                link->owner->applyStart(flight);
                return;
            }
            // Its owner is gone: the recording that has just started is not left running.
            if (flight->result()) return;
            if (auto recorder = weakRecorder.lock()) recorder->stopRecording(flight->file, {});
        });
    });
}

void CreatorRecorder::applyStart(const std::shared_ptr<Flight>& flight) {
    using Kind = RecordingOutcome::Kind;
    if (flight->applied) return;
    flight->applied = true;
    if (flight_ == flight) flight_.reset();
    if (const auto error = flight->result()) {
        setState(State::idle);
        endWhenStarted_ = false;
        // The user declined the desktop's screen choice: said as it is, not as an error.
        const QString text = fromStd(error->localizedDescription);
        announce(RecordingOutcome{Kind::notStarted,
                                  error->cancelled ? text : QString::fromUtf8(kRecErrorPrefix) + text,
                                  error->localizedDescription,
                                  {}},
                 flight->answer);
        return;
    }
    startedAt_ = services_.now();
    setState(State::recording);
    QString message =
        QString::fromUtf8(flight->microphone ? kRecordingWithMicMessage : kRecordingGameAudioMessage);
    if (!services_.recorder->lastRecordingHasSound()) message += QString::fromUtf8(kNoSoundNote);
    announce(RecordingOutcome{Kind::started, message, {}, {}}, flight->answer);
    if (endWhenStarted_ && state_ == State::recording) {
        endWhenStarted_ = false;
        stop(endTitle_);
    }
}

void CreatorRecorder::stop(const QString& title, Answer answer) {
    using Kind = RecordingOutcome::Kind;
    switch (state_) {
        case State::idle:
            return refuse(Kind::notRunning, kNotRunningText, answer);
        case State::starting:
            return refuse(Kind::starting, kStartingText, answer);
        case State::stopping:
            return refuse(Kind::saving, kSavingText, answer);
        case State::recording:
            break;
    }
    auto flight = std::make_shared<Flight>();
    flight->file = fileFor(title);
    flight->answer = std::move(answer);
    flight_ = flight;
    setState(State::stopping);
    const std::weak_ptr<Link> weak = link_;
    services_.recorder->stopRecording(flight->file,
                                      [flight, weak](std::optional<platform::ScreenRecorderError> error) {
                                          flight->finish(std::move(error));
                                          platform::postToMain([flight, weak] {
                                              if (auto link = weak.lock()) link->owner->applyStop(flight);
                                          });
                                      });
}

void CreatorRecorder::applyStop(const std::shared_ptr<Flight>& flight) {
    using Kind = RecordingOutcome::Kind;
    if (flight->applied) return;
    flight->applied = true;
    if (flight_ == flight) flight_.reset();
    setState(State::idle);
    if (const auto error = flight->result()) {
        announce(RecordingOutcome{Kind::notSaved,
                                  QString::fromUtf8(kSaveNotePrefix) + fromStd(error->localizedDescription),
                                  error->localizedDescription, flight->file},
                 flight->answer);
        return;
    }
    announce(RecordingOutcome{Kind::saved,
                              QString::fromUtf8(kSavedPrefix) + fromStd(flight->file.filename().string()),
                              {},
                              flight->file},
             flight->answer);
}

void CreatorRecorder::failed(const std::string& text) {
    if (!isRecording()) return;
    announce(
        RecordingOutcome{
            RecordingOutcome::Kind::failing, QString::fromUtf8(kRecErrorPrefix) + fromStd(text), text, {}},
        {});
    if (state_ == State::recording) stop(QString());
}

void CreatorRecorder::end(const QString& title) {
    if (state_ == State::recording) {
        stop(title);
    } else if (state_ == State::starting) {
        endWhenStarted_ = true;
        endTitle_ = title;
    }
}

std::optional<RecordingOutcome> CreatorRecorder::finishNow(const QString& title, int limitMs,
                                                           bool serveEvents) {
    using Kind = RecordingOutcome::Kind;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    // Until the flight is done; with serveEvents the main thread's events are handled meanwhile
    // (the portal's session is closed over the session bus, whose answers come through them).
    const auto waitFor = [&](const std::shared_ptr<Flight>& flight) {
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            if (flight->waitFor(serveEvents ? std::min(deadline, now + std::chrono::milliseconds(10))
                                            : deadline))
                return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            if (serveEvents && QCoreApplication::instance())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    };
    std::optional<RecordingOutcome> result;
    const auto connection =
        connect(this, &CreatorRecorder::outcome, this, [&result](const RecordingOutcome& o) {
            if (o.kind == Kind::saved || o.kind == Kind::notSaved) result = o;
        });
    end(title);
    if (state_ == State::starting) {
        const std::shared_ptr<Flight> starting = flight_;
        if (starting && waitFor(starting)) applyStart(starting);  // stops at once when it started
    }
    if (state_ == State::stopping) {
        const std::shared_ptr<Flight> stopping = flight_;
        if (stopping && waitFor(stopping)) applyStop(stopping);
    }
    disconnect(connection);
    return result;
}

}  // namespace vantry::creator
