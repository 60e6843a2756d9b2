#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/studio-overlay/CreatorStudioMath.h"
#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/screen-recorder/FileViewer.h"

namespace vantry::creator {
namespace {

class CameraFeedAdapter : public CreatorStudioFeed {
  public:
    void updateSettings(OruFacecamBackgroundModeV1045 bgMode, bool mirrored) override {
        feed_.updateSettings(bgMode, mirrored);
    }
    void setRefineEdges(bool refine) override { feed_.setRefineEdges(refine); }
    void start(Completion completion) override { feed_.start(std::move(completion)); }
    void stop() override { feed_.stop(); }
    void setOnFrameReady(FrameCallback callback) override { feed_.setOnFrameReady(std::move(callback)); }

  private:
    OruCreatorCameraFeedV1045 feed_;
};

double systemNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

// Owned by the controller and reset in its destructor, on the main thread. Callbacks hold it
// weakly; a main-thread task that can still lock it knows the controller is alive, because
// the controller is destroyed only on the main thread.
struct OruCreatorStudioControllerV1045::Link {
    OruCreatorStudioControllerV1045* controller;
};

OruCreatorStudioControllerV1045::OruCreatorStudioControllerV1045(QObject* parent)
    : OruCreatorStudioControllerV1045(CreatorStudioServices{}, parent) {}

OruCreatorStudioControllerV1045::OruCreatorStudioControllerV1045(CreatorStudioServices services,
                                                                 QObject* parent)
    : PresenterSource(parent), services_(std::move(services)), link_(std::make_shared<Link>(Link{this})) {
    if (!services_.feed) services_.feed = std::make_unique<CameraFeedAdapter>();
    if (!services_.now) services_.now = systemNow;
    if (!services_.clipsDirectory)
        services_.clipsDirectory = OruViralAutoClipper9x16V1030::defaultClipsDirectory;
    if (!services_.revealFile) {
        services_.revealFile = [](const std::filesystem::path& file,
                                  std::function<void(const std::string&)> done) {
            platform::revealInFileViewer(file, std::move(done));
        };
    }

    const auto post = mainTaskPoster();
    services_.feed->setOnFrameReady([post](const QImage& image) {
        post([image](OruCreatorStudioControllerV1045& self) { self.setLatestCameraFrame(image); });
    });

    // Connected before anyone else can be: whoever hears one of these finds the new snapshot.
    using C = OruCreatorStudioControllerV1045;
    for (void (C::*changed)() : {&C::isCameraEnabledChanged, &C::latestCameraFrameChanged, &C::offsetChanged,
                                 &C::scaleChanged, &C::frameShapeChanged, &C::backgroundModeChanged,
                                 &C::isRecordingChanged, &C::isSavingChanged, &C::micActivityLevelChanged})
        connect(this, changed, this, &C::refreshPresenterSnapshot);
    refreshPresenterSnapshot();
}

OruCreatorStudioControllerV1045::~OruCreatorStudioControllerV1045() {
    // Pending main-thread tasks find the link gone; the timer is a child and dies with us.
    link_.reset();
    // The feed's own destructor ends its queue; it is not stopped first.
    services_.feed.reset();
}

std::function<void(std::function<void(OruCreatorStudioControllerV1045&)>)>
OruCreatorStudioControllerV1045::mainTaskPoster() const {
    std::weak_ptr<Link> weak = link_;
    return [weak](std::function<void(OruCreatorStudioControllerV1045&)> task) {
        platform::postToMain([weak, task = std::move(task)] {
            if (auto link = weak.lock()) task(*link->controller);
        });
    };
}

QString OruCreatorStudioControllerV1045::backgroundModeRawValue() const {
    const auto raw = backgroundMode_.rawValue();
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QString OruCreatorStudioControllerV1045::frameShapeRawValue() const {
    const auto raw = frameShape_.rawValue();
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QString OruCreatorStudioControllerV1045::formattedRecordingTime() const {
    return fromStd(studio::formattedRecordingTime(recordingElapsedSeconds_));
}

void OruCreatorStudioControllerV1045::setToolbarExpanded(bool expanded) {
    if (isToolbarExpanded_ == expanded) return;
    isToolbarExpanded_ = expanded;
    emit isToolbarExpandedChanged();
}

void OruCreatorStudioControllerV1045::setBackgroundMode(OruFacecamBackgroundModeV1045 mode) {
    const bool changed = !(backgroundMode_ == mode);
    backgroundMode_ = mode;
    pushFeedSettings();
    if (changed) emit backgroundModeChanged();
}

void OruCreatorStudioControllerV1045::setFrameShape(OruFacecamShapeV1045 shape) {
    if (frameShape_ == shape) return;
    frameShape_ = shape;
    emit frameShapeChanged();
}

void OruCreatorStudioControllerV1045::setBackgroundModeRawValue(const QString& raw) {
    if (auto mode = OruFacecamBackgroundModeV1045::fromRawValue(raw.toStdString())) setBackgroundMode(*mode);
}

void OruCreatorStudioControllerV1045::setFrameShapeRawValue(const QString& raw) {
    if (auto shape = OruFacecamShapeV1045::fromRawValue(raw.toStdString())) setFrameShape(*shape);
}

void OruCreatorStudioControllerV1045::setMirrored(bool mirrored) {
    const bool changed = isMirrored_ != mirrored;
    isMirrored_ = mirrored;
    pushFeedSettings();
    if (changed) emit isMirroredChanged();
}

void OruCreatorStudioControllerV1045::setRefineEdges(bool refine) {
    if (refineEdges_ == refine) return;
    refineEdges_ = refine;
    services_.feed->setRefineEdges(refine);
    emit refineEdgesChanged();
}

void OruCreatorStudioControllerV1045::setMicIncluded(bool included) {
    if (isMicIncluded_ == included) return;
    isMicIncluded_ = included;
    emit isMicIncludedChanged();
}

void OruCreatorStudioControllerV1045::setOffset(const QSizeF& offset) {
    if (offset_ == offset) return;
    offset_ = offset;
    emit offsetChanged();
}

void OruCreatorStudioControllerV1045::setScale(double scale) {
    if (scale_ == scale) return;
    scale_ = scale;
    emit scaleChanged();
}

double OruCreatorStudioControllerV1045::clampScale(double s) {
    return studio::clampScale(s);
}

QSizeF OruCreatorStudioControllerV1045::clampOffset(const QSizeF& offset, const QSizeF& area) {
    const auto r = studio::clampOffset({offset.width(), offset.height()}, {area.width(), area.height()});
    return {r.width, r.height};
}

void OruCreatorStudioControllerV1045::pushFeedSettings() {
    services_.feed->updateSettings(backgroundMode_, isMirrored_);
}

void OruCreatorStudioControllerV1045::toggleCamera() {
    isCameraEnabled_ = !isCameraEnabled_;
    emit isCameraEnabledChanged();
    if (isCameraEnabled_) {
        pushFeedSettings();
        const auto post = mainTaskPoster();
        services_.feed->start([post](bool success, const std::string& message) {
            post([success, text = fromStd(message)](OruCreatorStudioControllerV1045& self) {
                self.setUsingLiveHardwareCamera(success);
                self.setStatusMessage(text);
            });
        });
        startMeterTimerIfNeeded();
    } else {
        services_.feed->stop();
        setUsingLiveHardwareCamera(false);
        if (!isRecording_) stopMeterTimer();
    }
}

void OruCreatorStudioControllerV1045::toggleRecording(const QString& gameTitle) {
    if (isRecording_) {
        stopScreenRecordingAndSave(gameTitle);
    } else {
        startScreenRecording();
    }
}

void OruCreatorStudioControllerV1045::startScreenRecording() {
    if (isSaving_) return;  // the last recording is still being finished
    if (!services_.recorder) services_.recorder = platform::ScreenRecorder::shared();
    auto& recorder = *services_.recorder;
    if (!recorder.isAvailable()) {
        setStatusMessage(QString::fromUtf8(kRecorderUnavailableMessage));
        return;
    }
    recorder.setMicrophoneEnabled(isMicIncluded_);
    recorder.setCameraEnabled(false);
    recorder.setScratchFolder(services_.clipsDirectory());
    const auto post = mainTaskPoster();
    // A recording that fails on its own (its file can no longer be written, a full disk) says
    // so and ends at once: the stop keeps what was written and its note says where.
    recorder.setFailureHandler([post](platform::ScreenRecorderError error) {
        post([text = fromStd(error.localizedDescription)](OruCreatorStudioControllerV1045& self) {
            if (!self.isRecording_) return;
            self.setStatusMessage(QString::fromUtf8(kRecErrorPrefix) + text);
            self.stopScreenRecordingAndSave(QString());
        });
    });
    recorder.startRecording([post](std::optional<platform::ScreenRecorderError> error) {
        post([error = std::move(error)](OruCreatorStudioControllerV1045& self) {
            if (error) {
                // The user declined the desktop's screen choice: said as it is, not as an error.
                self.setStatusMessage(error->cancelled ? fromStd(error->localizedDescription)
                                                       : QString::fromUtf8(kRecErrorPrefix) +
                                                             fromStd(error->localizedDescription));
                return;
            }
            self.recordingStartedAt_ = self.services_.now();
            self.setRecording(true);
            self.setElapsed(0);
            QString message = QString::fromUtf8(self.isMicIncluded_ ? kRecordingWithMicMessage
                                                                    : kRecordingGameAudioMessage);
            if (self.services_.recorder && !self.services_.recorder->lastRecordingHasSound())
                message += QString::fromUtf8(kNoSoundNote);
            self.setStatusMessage(message);
            self.startMeterTimerIfNeeded();
        });
    });
}

void OruCreatorStudioControllerV1045::stopScreenRecordingAndSave(const QString& gameTitle) {
    if (!services_.recorder) services_.recorder = platform::ScreenRecorder::shared();
    const std::filesystem::path folder = services_.clipsDirectory();
    const std::string name = studio::recordingFileName(gameTitle.toStdString(), services_.now());
    const std::filesystem::path file = folder / name;
    if (isSaving_) return;  // a second STOP while the file is being finished
    setSaving(true);
    const auto post = mainTaskPoster();
    services_.recorder->stopRecording(
        file, [post, file, name](std::optional<platform::ScreenRecorderError> error) {
            post([error = std::move(error), file, name](OruCreatorStudioControllerV1045& self) {
                self.setRecording(false);
                self.setSaving(false);
                if (!self.isCameraEnabled_) self.stopMeterTimer();
                if (error) {
                    self.setStatusMessage(QString::fromUtf8(kSaveNotePrefix) +
                                          fromStd(error->localizedDescription));
                    return;
                }
                const QString path = QString::fromStdString(file.string());
                if (self.savedFilePath_ != path) {
                    self.savedFilePath_ = path;
                    emit self.savedFilePathChanged();
                }
                self.setStatusMessage(QString::fromUtf8(kSavedPrefix) + fromStd(name));
                self.revealInFileViewer(path);
            });
        });
}

void OruCreatorStudioControllerV1045::revealInFileViewer(const QString& path) {
    if (path.isEmpty()) return;
    const std::filesystem::path file = path.toStdString();
    const auto post = mainTaskPoster();
    services_.revealFile(file, [post, folder = QString::fromStdString(file.parent_path().string())](
                                   const std::string& failure) {
        if (failure.empty()) return;
        post([folder](OruCreatorStudioControllerV1045& self) {
            self.setStatusMessage(QString::fromUtf8(kNoFileManagerPrefix) + folder + QStringLiteral(")"));
        });
    });
}

void OruCreatorStudioControllerV1045::startMeterTimerIfNeeded() {
    if (timer_) return;
    timer_ = new QTimer(this);
    timer_->setInterval(kMeterIntervalMs);
    // The timer is this object's child on the main thread: it cannot outlive the controller.
    connect(timer_, &QTimer::timeout, this, &OruCreatorStudioControllerV1045::meterTick);
    timer_->start();
}

void OruCreatorStudioControllerV1045::stopMeterTimer() {
    if (!timer_) return;
    timer_->stop();
    delete timer_;
    timer_ = nullptr;
}

void OruCreatorStudioControllerV1045::meterTick() {
    if (isRecording_) {
        const double ticks = std::floor((services_.now() - recordingStartedAt_) * 4.0 + 1e-3);
        // The clock never runs backwards, even when the system time is set back.
        if (ticks > double(recordingElapsedSeconds_)) setElapsed(qint64(ticks));
    }
    const double level = studio::meterLevel(services_.now(), isMicIncluded_);
    if (level != micActivityLevel_) {
        micActivityLevel_ = level;
        emit micActivityLevelChanged();
    }
}

void OruCreatorStudioControllerV1045::setStatusMessage(const QString& message) {
    if (statusMessage_ == message) return;
    statusMessage_ = message;
    emit statusMessageChanged();
}

void OruCreatorStudioControllerV1045::setRecording(bool recording) {
    if (isRecording_ == recording) return;
    isRecording_ = recording;
    emit isRecordingChanged();
}

void OruCreatorStudioControllerV1045::setSaving(bool saving) {
    if (isSaving_ == saving) return;
    isSaving_ = saving;
    emit isSavingChanged();
}

void OruCreatorStudioControllerV1045::setElapsed(qint64 ticks) {
    if (recordingElapsedSeconds_ == ticks) return;
    recordingElapsedSeconds_ = ticks;
    emit recordingElapsedSecondsChanged();
}

void OruCreatorStudioControllerV1045::setUsingLiveHardwareCamera(bool live) {
    if (isUsingLiveHardwareCamera_ == live) return;
    isUsingLiveHardwareCamera_ = live;
    emit isUsingLiveHardwareCameraChanged();
}

void OruCreatorStudioControllerV1045::setLatestCameraFrame(const QImage& image) {
    latestCameraFrame_ = image;
    emit latestCameraFrameChanged();
}

void OruCreatorStudioControllerV1045::refreshPresenterSnapshot() {
    PresenterSnapshot s;
    s.cameraEnabled = isCameraEnabled_;
    s.picture = latestCameraFrame_;
    s.offset = offset_;
    s.scale = scale_;
    s.frameShape = frameShape_;
    s.backgroundMode = backgroundMode_;
    s.recording = isRecording_;
    s.saving = isSaving_;
    s.micLevel = micActivityLevel_;
    publishPresenterSnapshot(std::move(s));
}

}  // namespace vantry::creator
