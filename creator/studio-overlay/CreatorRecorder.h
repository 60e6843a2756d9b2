// The one owner of the studio's screen recording: whether a recording is starting, running or
// being saved, since when it runs and where it was saved. Overlays come and go (switching Vision
// Cutout off discards its overlay and controller); the recording belongs to this object, which
// outlives them, and every view of it (the overlay's controller, the window's view model, the
// remote control) reads its state from here and asks here to start and stop.
//
// Lives on the main thread; its state changes there and announces itself. Recorder results
// arrive on the recorder's thread and are applied through main-thread tasks
// (platform::postToMain) that first check that this object still exists.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/screen-recorder/ScreenRecorder.h"

namespace vantry::creator {

// What became of one request to start or stop, or of a recording on its own.
struct RecordingOutcome {
    enum class Kind {
        started,         // the recorder confirmed the start
        notStarted,      // the recorder could not start, or the user cancelled its screen choice
        unavailable,     // no screen can be recorded on this session; nothing was started
        alreadyRunning,  // a start while a recording runs: it goes on unchanged
        notRunning,      // a stop while no recording runs: nothing to save
        starting,        // a stop while the recorder is still starting: refused
        saving,          // a start or stop while the last recording is being saved: refused
        saved,           // the recording was finished and moved to `file`
        notSaved,        // the recording ended, but not as `file` (its note says where it is)
        failing,         // the running recording failed on its own; its stop follows at once
    };
    Kind kind = Kind::notRunning;
    QString message;             // the status line that says it
    std::string reason;          // what went wrong or why nothing was done, in plain words
    std::filesystem::path file;  // saved: the recording; notSaved: where it was to go
};

// What the remote control needs of whatever records (the overlay's controller).
class RecordingRequests {
  public:
    using Answer = std::function<void(const RecordingOutcome& outcome)>;
    virtual ~RecordingRequests() = default;
    // Starts or stops; `answer` (main thread) gets what really happened, at once for a refusal,
    // else when the recorder has confirmed the start or finished the file.
    virtual void requestRecording(bool start, const QString& title, Answer answer) = 0;
};

class CreatorRecorder : public QObject {
    Q_OBJECT
  public:
    enum class State { idle, starting, recording, stopping };
    using Answer = RecordingRequests::Answer;

    static constexpr const char* kRecorderUnavailableMessage =
        "Screen Recorder ready (enable Screen Recording in System Settings)";
    static constexpr const char* kRecordingWithMicMessage = "REC (Game + Mic + Cam)";
    static constexpr const char* kRecordingGameAudioMessage = "REC (Game Audio)";
    static constexpr const char* kRecErrorPrefix = "Rec error: ";
    static constexpr const char* kSaveNotePrefix = "Save note: ";
    static constexpr const char* kSavedPrefix = "Saved ";
    static constexpr const char* kNoSoundNote = " · video only: no sound server reachable";
    static constexpr const char* kAlreadyRunningText = "A screen recording is already running.";
    static constexpr const char* kNotRunningText = "No screen recording is running.";
    static constexpr const char* kStartingText = "The screen recording is still starting.";
    static constexpr const char* kSavingText = "The last recording is still being saved.";

    // Each member is optional and falls back to the real service.
    struct Services {
        std::shared_ptr<platform::ScreenRecorder> recorder;  // default: ScreenRecorder::shared()
        std::function<double()> now;                         // wall-clock seconds since 1970
        std::function<std::filesystem::path()> clipsDirectory;
    };

    explicit CreatorRecorder(Services services = {}, QObject* parent = nullptr);
    // A running recording is stopped and saved in the clips folder under an untitled name; one
    // still starting is stopped as soon as the recorder confirms it.
    ~CreatorRecorder() override;

    // The studio's recorder (over ScreenRecorder::shared()), made on first use; main thread.
    static std::shared_ptr<CreatorRecorder> shared();

    State state() const { return state_; }
    // From the confirmed start until the file is finished (saving included).
    bool isRecording() const { return state_ == State::recording || state_ == State::stopping; }
    bool isSaving() const { return state_ == State::stopping; }
    // Where recordings are saved (and written while they run).
    std::filesystem::path clipsDirectory() const { return services_.clipsDirectory(); }
    // services.now() when the recorder confirmed the running recording's start.
    double startedAt() const { return startedAt_; }

    // Starts a recording with or without the microphone. A start while one starts, runs or is
    // being saved is refused (answered as such); the recorder is not asked.
    void start(bool microphone, Answer answer = {});
    // Stops the running recording and saves it as "<title>_CreatorRec_<seconds>.mp4" in the
    // clips folder. A stop while none runs, while one starts or is being saved, is refused.
    void stop(const QString& title, Answer answer = {});
    // Stops whatever records, now or as soon as the recorder confirms a start under way (the
    // studio's switch went off); nothing happens while idle or saving.
    void end(const QString& title);
    // For the end of the program, when main-thread tasks no longer run: ends the recording as
    // end() does and waits, at most limitMs, until its file is finished; also waits for a save
    // under way. With serveEvents the main thread's Qt events are handled while it waits (the
    // portal's screen cast needs them to end). The outcome of the save; nullopt when nothing was
    // recording or the wait ran out.
    std::optional<RecordingOutcome> finishNow(const QString& title, int limitMs, bool serveEvents = false);

  signals:
    void isRecordingChanged();
    void isSavingChanged();
    // Every change of state() (starting and idle again included).
    void stateChanged();
    // Every real outcome, whoever asked: started, notStarted, unavailable, saved, notSaved and
    // failing. Refusals go only to the request's answer.
    void outcome(const vantry::creator::RecordingOutcome& outcome);

  private:
    struct Flight;
    struct Link;

    void setState(State state);
    void refuse(RecordingOutcome::Kind kind, const char* text, const Answer& answer);
    void announce(const RecordingOutcome& outcome, const Answer& answer);
    void applyStart(const std::shared_ptr<Flight>& flight);
    void applyStop(const std::shared_ptr<Flight>& flight);
    void failed(const std::string& text);
    std::filesystem::path fileFor(const QString& title) const;

    Services services_;
    State state_ = State::idle;
    double startedAt_ = 0;
    bool endWhenStarted_ = false;
    QString endTitle_;
    std::shared_ptr<Flight> flight_;  // the start or stop the recorder is working on
    std::shared_ptr<Link> link_;      // the weak-reference target of every cross-thread callback
};

}  // namespace vantry::creator
