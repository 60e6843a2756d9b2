#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/studio-overlay/CreatorStudioMath.h"
#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"
#include "platform/audio-mix/ProgrammeSound.h"
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
    if (!services_.micLevel) {
        services_.micLevel = []() -> std::optional<double> {
            const auto sound = platform::ProgrammeSound::sharedIfMade();
            if (!sound) return std::nullopt;
            // -60 dBFS and below is an empty meter, 0 dBFS a full one.
            const double peak = sound->mixer().level(audio::MixSource::mic).peakDb;
            return std::clamp((peak + 60.0) / 60.0, 0.0, 1.0);
        };
    }
    if (!services_.clipsDirectory)
        services_.clipsDirectory = OruViralAutoClipper9x16V1030::defaultClipsDirectory;
    if (!services_.revealFile) {
        services_.revealFile = [](const std::filesystem::path& file,
                                  std::function<void(const std::string&)> done) {
            platform::revealInFileViewer(file, std::move(done));
        };
    }

    recording_ = services_.recording;
    if (!recording_) {
        recording_ = services_.recorder ? std::make_shared<CreatorRecorder>(CreatorRecorder::Services{
                                              services_.recorder, services_.now, services_.clipsDirectory})
                                        : CreatorRecorder::shared();
    }
    connect(recording_.get(), &CreatorRecorder::isRecordingChanged, this,
            &OruCreatorStudioControllerV1045::isRecordingChanged);
    connect(recording_.get(), &CreatorRecorder::isSavingChanged, this,
            &OruCreatorStudioControllerV1045::isSavingChanged);
    connect(recording_.get(), &CreatorRecorder::outcome, this,
            &OruCreatorStudioControllerV1045::applyOutcome);
    // An overlay made while a recording runs shows it and counts its time.
    if (isRecording()) startMeterTimerIfNeeded();

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
    // Pending main-thread tasks find the link gone; the timer is a child and dies with us. The
    // recording is not this object's and goes on: whoever switches the overlay off ends it.
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

void OruCreatorStudioControllerV1045::setStandsInSet(bool inSet) {
    if (standsInSet_ == inSet) return;
    standsInSet_ = inSet;
    pushFeedSettings();
    emit standsInSetChanged();
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
    services_.feed->updateSettings(
        standsInSet_ ? OruFacecamBackgroundModeV1045::cutoutNoBackground : backgroundMode_, isMirrored_);
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
        if (!isRecording()) stopMeterTimer();
    }
}

void OruCreatorStudioControllerV1045::toggleRecording(const QString& gameTitle) {
    requestRecording(!isRecording(), gameTitle, {});
}

void OruCreatorStudioControllerV1045::requestRecording(bool start, const QString& gameTitle, Answer answer) {
    if (start) {
        recording_->start(isMicIncluded_, std::move(answer));
    } else {
        recording_->stop(gameTitle, std::move(answer));
    }
}

void OruCreatorStudioControllerV1045::applyOutcome(const RecordingOutcome& outcome) {
    using Kind = RecordingOutcome::Kind;
    switch (outcome.kind) {
        case Kind::started:
            setElapsed(0);
            setStatusMessage(outcome.message);
            startMeterTimerIfNeeded();
            return;
        case Kind::saved:
        case Kind::notSaved: {
            if (!isCameraEnabled_) stopMeterTimer();
            setStatusMessage(outcome.message);
            if (outcome.kind == Kind::notSaved) return;
            const QString path = QString::fromStdString(outcome.file.string());
            if (savedFilePath_ != path) {
                savedFilePath_ = path;
                emit savedFilePathChanged();
            }
            revealInFileViewer(path);
            return;
        }
        case Kind::notStarted:
        case Kind::unavailable:
        case Kind::failing:
            setStatusMessage(outcome.message);
            return;
        case Kind::alreadyRunning:
        case Kind::notRunning:
        case Kind::starting:
        case Kind::saving:
            return;  // refusals reach only the one who asked
    }
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
    if (isRecording()) {
        const double ticks = std::floor((services_.now() - recording_->startedAt()) * 4.0 + 1e-3);
        // The clock never runs backwards, even when the system time is set back.
        if (ticks > double(recordingElapsedSeconds_)) setElapsed(qint64(ticks));
    }
    double level = studio::meterLevel(services_.now(), isMicIncluded_);
    if (isMicIncluded_)
        if (const auto heard = services_.micLevel()) level = *heard;
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
    s.recording = isRecording();
    s.saving = isSaving();
    s.micLevel = micActivityLevel_;
    publishPresenterSnapshot(std::move(s));
}

}  // namespace vantry::creator
