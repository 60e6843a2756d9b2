// The state object behind the creator-studio overlay: facecam settings, camera on/off, screen
// recording with its tick counter, the microphone meter and a one-line status message.
//
// It is the presenter's source: every camera picture and every change of the presenter's
// settings publish a new PresenterSnapshot (with the border by the one rule).
//
// Lives on the main thread; every property changes there and announces itself. Camera results
// arrive on other threads and are applied through main-thread tasks (platform::postToMain) that
// first check that the controller still exists. The recording is not the controller's: it
// belongs to a CreatorRecorder that outlives the overlay, and the recording properties read
// its state.
#pragma once

#include <QImage>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "creator/studio-overlay/CreatorRecorder.h"
#include "creator/studio-overlay/FacecamTypes.h"
#include "creator/studio-overlay/PresenterSnapshot.h"
#include "platform/screen-recorder/ScreenRecorder.h"

namespace vantry::creator {

// What the controller needs of a facecam feed (the real one is OruCreatorCameraFeedV1045).
// Callbacks may arrive on any thread.
class CreatorStudioFeed {
  public:
    using Completion = std::function<void(bool success, const std::string& message)>;
    using FrameCallback = std::function<void(const QImage& image)>;
    virtual ~CreatorStudioFeed() = default;
    virtual void updateSettings(OruFacecamBackgroundModeV1045 bgMode, bool mirrored) = 0;
    virtual void setRefineEdges(bool refine) = 0;
    virtual void start(Completion completion) = 0;
    virtual void stop() = 0;
    virtual void setOnFrameReady(FrameCallback callback) = 0;
};

// Everything the controller reaches outside itself; each member is optional and falls back to
// the real service.
struct CreatorStudioServices {
    std::unique_ptr<CreatorStudioFeed> feed;
    std::shared_ptr<platform::ScreenRecorder> recorder;  // default: ScreenRecorder::shared()
    // Who owns the recording. Default: one of the controller's own over `recorder` when that is
    // given, else CreatorRecorder::shared(), the studio's.
    std::shared_ptr<CreatorRecorder> recording;
    std::function<double()> now;  // wall-clock seconds since 1970
    // The microphone's level for the meter, 0 to 1: default the studio's programme sound's
    // "Mic/Aux" once the studio has one; none: the meter's own drawn level.
    std::function<std::optional<double>()> micLevel;
    std::function<std::filesystem::path()> clipsDirectory;
    // Shows the file in the file manager; `done` gets an empty string when a file manager (or
    // the folder's opener) took the request, else why none did. `done` runs on the main thread.
    std::function<void(const std::filesystem::path&, std::function<void(const std::string& failure)> done)>
        revealFile;
};

class OruCreatorStudioControllerV1045 : public PresenterSource, public RecordingRequests {
    Q_OBJECT
    Q_PROPERTY(bool isToolbarExpanded READ isToolbarExpanded WRITE setToolbarExpanded NOTIFY
                   isToolbarExpandedChanged)
    Q_PROPERTY(bool isCameraEnabled READ isCameraEnabled NOTIFY isCameraEnabledChanged)
    Q_PROPERTY(QString backgroundMode READ backgroundModeRawValue WRITE setBackgroundModeRawValue NOTIFY
                   backgroundModeChanged)
    Q_PROPERTY(
        QString frameShape READ frameShapeRawValue WRITE setFrameShapeRawValue NOTIFY frameShapeChanged)
    Q_PROPERTY(bool isMirrored READ isMirrored WRITE setMirrored NOTIFY isMirroredChanged)
    // Steady, picture-fitted presenter edges; off shows the raw segmentation mask.
    Q_PROPERTY(bool refineEdges READ refineEdges WRITE setRefineEdges NOTIFY refineEdgesChanged)
    Q_PROPERTY(bool standsInSet READ standsInSet WRITE setStandsInSet NOTIFY standsInSetChanged)
    Q_PROPERTY(bool isMicIncluded READ isMicIncluded WRITE setMicIncluded NOTIFY isMicIncludedChanged)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    // True from a stop request until the recorder has finished the file (or failed).
    Q_PROPERTY(bool isSaving READ isSaving NOTIFY isSavingChanged)
    // The last recording this controller saved; empty until one is.
    Q_PROPERTY(QString savedFilePath READ savedFilePath NOTIFY savedFilePathChanged)
    Q_PROPERTY(
        qint64 recordingElapsedSeconds READ recordingElapsedSeconds NOTIFY recordingElapsedSecondsChanged)
    Q_PROPERTY(
        QString formattedRecordingTime READ formattedRecordingTime NOTIFY recordingElapsedSecondsChanged)
    Q_PROPERTY(double micActivityLevel READ micActivityLevel NOTIFY micActivityLevelChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QImage latestCameraFrame READ latestCameraFrame NOTIFY latestCameraFrameChanged)
    Q_PROPERTY(bool hasCameraFrame READ hasCameraFrame NOTIFY latestCameraFrameChanged)
    Q_PROPERTY(
        bool isUsingLiveHardwareCamera READ isUsingLiveHardwareCamera NOTIFY isUsingLiveHardwareCameraChanged)
    Q_PROPERTY(QSizeF offset READ offset WRITE setOffset NOTIFY offsetChanged)
    Q_PROPERTY(double scale READ scale WRITE setScale NOTIFY scaleChanged)

  public:
    static constexpr const char* kReadyMessage = "Creator Cam Ready";
    static constexpr const char* kRecorderUnavailableMessage = CreatorRecorder::kRecorderUnavailableMessage;
    static constexpr const char* kRecordingWithMicMessage = CreatorRecorder::kRecordingWithMicMessage;
    static constexpr const char* kRecordingGameAudioMessage = CreatorRecorder::kRecordingGameAudioMessage;
    static constexpr const char* kRecErrorPrefix = CreatorRecorder::kRecErrorPrefix;
    static constexpr const char* kSaveNotePrefix = CreatorRecorder::kSaveNotePrefix;
    static constexpr const char* kSavedPrefix = CreatorRecorder::kSavedPrefix;
    static constexpr const char* kNoSoundNote = CreatorRecorder::kNoSoundNote;
    static constexpr const char* kNoFileManagerPrefix = "Show in Folder: no file manager answered (";
    static constexpr int kMeterIntervalMs = 250;

    // The real camera feed, the shared screen recorder, the system clock and file viewer.
    explicit OruCreatorStudioControllerV1045(QObject* parent = nullptr);
    explicit OruCreatorStudioControllerV1045(CreatorStudioServices services, QObject* parent = nullptr);
    // Releases the feed without stopping it; no late completion, frame or tick reaches this
    // object afterwards.
    ~OruCreatorStudioControllerV1045() override;

    bool isToolbarExpanded() const { return isToolbarExpanded_; }
    bool isCameraEnabled() const { return isCameraEnabled_; }
    OruFacecamBackgroundModeV1045 backgroundMode() const { return backgroundMode_; }
    OruFacecamShapeV1045 frameShape() const { return frameShape_; }
    QString backgroundModeRawValue() const;
    QString frameShapeRawValue() const;
    bool isMirrored() const { return isMirrored_; }
    bool refineEdges() const { return refineEdges_; }
    // While the host stands the presenter in its set, the camera pictures are always cut out
    // (the person alone, whatever the background mode): a set has no place for a rectangle.
    // The background mode is kept and comes back when the presenter floats again.
    bool standsInSet() const { return standsInSet_; }
    void setStandsInSet(bool inSet);
    bool isMicIncluded() const { return isMicIncluded_; }
    bool isRecording() const { return recording_->isRecording(); }
    bool isSaving() const { return recording_->isSaving(); }
    CreatorRecorder& recording() const { return *recording_; }
    QString savedFilePath() const { return savedFilePath_; }
    qint64 recordingElapsedSeconds() const { return recordingElapsedSeconds_; }
    QString formattedRecordingTime() const;
    double micActivityLevel() const { return micActivityLevel_; }
    QString statusMessage() const { return statusMessage_; }
    QImage latestCameraFrame() const { return latestCameraFrame_; }
    bool hasCameraFrame() const { return !latestCameraFrame_.isNull(); }
    bool isUsingLiveHardwareCamera() const { return isUsingLiveHardwareCamera_; }
    QSizeF offset() const { return offset_; }
    double scale() const { return scale_; }
    // Whether the meter timer runs (camera on or a recording running).
    bool isMeterTimerRunning() const { return timer_ != nullptr; }

    void setToolbarExpanded(bool expanded);
    void setBackgroundMode(OruFacecamBackgroundModeV1045 mode);
    void setFrameShape(OruFacecamShapeV1045 shape);
    // Unknown raw values are ignored.
    void setBackgroundModeRawValue(const QString& raw);
    void setFrameShapeRawValue(const QString& raw);
    void setMirrored(bool mirrored);
    void setRefineEdges(bool refine);
    void setMicIncluded(bool included);
    void setOffset(const QSizeF& offset);
    void setScale(double scale);

    Q_INVOKABLE void toggleCamera();
    // Stops the running recording (saved under gameTitle), else starts one.
    Q_INVOKABLE void toggleRecording(const QString& gameTitle);
    // With the overlay's switches (the microphone) and its status line, as the button does.
    void requestRecording(bool start, const QString& gameTitle, Answer answer) override;
    // Shows `path` in the file manager; when none answers, the status message says so and
    // names the folder.
    Q_INVOKABLE void revealInFileViewer(const QString& path);
    Q_INVOKABLE static double clampScale(double s);
    Q_INVOKABLE static QSizeF clampOffset(const QSizeF& offset, const QSizeF& area);

    // One meter timer firing (the timer calls it every 250 ms). While recording, the tick count
    // follows the clock since the recorder confirmed the start (four per second), so a late
    // timer never makes the clock fall behind the recording.
    void meterTick();

  signals:
    void isToolbarExpandedChanged();
    void isCameraEnabledChanged();
    void backgroundModeChanged();
    void frameShapeChanged();
    void isMirroredChanged();
    void refineEdgesChanged();
    void standsInSetChanged();
    void isMicIncludedChanged();
    void isRecordingChanged();
    void isSavingChanged();
    void savedFilePathChanged();
    void recordingElapsedSecondsChanged();
    void micActivityLevelChanged();
    void statusMessageChanged();
    void latestCameraFrameChanged();
    void isUsingLiveHardwareCameraChanged();
    void offsetChanged();
    void scaleChanged();

  private:
    struct Link;

    void applyOutcome(const RecordingOutcome& outcome);
    void startMeterTimerIfNeeded();
    void stopMeterTimer();
    void pushFeedSettings();
    void setStatusMessage(const QString& message);
    void setElapsed(qint64 ticks);
    void setUsingLiveHardwareCamera(bool live);
    void setLatestCameraFrame(const QImage& image);
    void refreshPresenterSnapshot();
    // Runs task on the main thread later, only while this controller exists.
    std::function<void(std::function<void(OruCreatorStudioControllerV1045&)>)> mainTaskPoster() const;

    bool isToolbarExpanded_ = false;
    bool isCameraEnabled_ = false;
    OruFacecamBackgroundModeV1045 backgroundMode_ = OruFacecamBackgroundModeV1045::cutoutNoBackground;
    OruFacecamShapeV1045 frameShape_ = OruFacecamShapeV1045::freeCutout;
    bool isMirrored_ = true;
    bool refineEdges_ = true;
    bool standsInSet_ = false;
    bool isMicIncluded_ = true;
    QString savedFilePath_;
    qint64 recordingElapsedSeconds_ = 0;
    double micActivityLevel_ = 0.25;
    QString statusMessage_ = QString::fromUtf8(kReadyMessage);
    QImage latestCameraFrame_;
    bool isUsingLiveHardwareCamera_ = false;
    QSizeF offset_{-16, -96};
    double scale_ = 1.0;

    CreatorStudioServices services_;
    std::shared_ptr<CreatorRecorder> recording_;
    std::shared_ptr<Link> link_;  // the weak-reference target of every cross-thread callback
    QTimer* timer_ = nullptr;     // child of this object: it dies with it
};

}  // namespace vantry::creator
