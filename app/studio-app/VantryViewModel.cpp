#include "app/studio-app/VantryViewModel.h"

#include <QPointer>
#include <QVariantMap>
#include <cstdio>
#include <filesystem>

#include "app/shots/ShotStore.h"
#include "app/studio-app/StudioText.h"
#include "creator/studio-overlay/CreatorRecorder.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/files/IniFile.h"
#include "platform/files/SettingsFolder.h"
#include "platform/files/UserFolders.h"
#include "platform/screen-recorder/PartialRecovery.h"
#include "platform/wall-feed/PdfDeck.h"
#include "studio/gpu/StudioCamera.h"

namespace vantry::app {
namespace {

constexpr const char* kRefineEdgesKey = "presenter/refineEdges";
// How long the closing window waits for a recording's file to be finished.
constexpr int kFinishRecordingMs = 60'000;

// The window's settings file, shared with the file panels' remembered folders; the config
// home is read each time.
std::filesystem::path windowSettingsFile() {
    return platform::studioSettingsFile();
}

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

VantryViewModel::VantryViewModel(std::shared_ptr<app::StudioRenderer> engine, app::FilePanels* panels,
                                 QObject* parent)
    : VantryViewModel(std::move(engine), panels, WallFeeds::system(), parent) {}

VantryViewModel::VantryViewModel(std::shared_ptr<app::StudioRenderer> engine, app::FilePanels* panels,
                                 WallFeeds feeds, QObject* parent)
    : VantryViewModel(std::move(engine), panels, std::move(feeds), platform::ProgrammeSound::shared(),
                      parent) {}

VantryViewModel::VantryViewModel(std::shared_ptr<app::StudioRenderer> engine, app::FilePanels* panels,
                                 WallFeeds feeds, std::shared_ptr<platform::ProgrammeSound> sound,
                                 QObject* parent)
    : QObject(parent),
      engine_(std::move(engine)),
      panels_(panels),
      engineHandle_(new StudioEngineHandle(engine_, this)),
      feeds_(feeds.withSystemDefaults()) {
    slideName_ = QString::fromStdString(engine_->slideSourceName());
    refineEdges_ =
        platform::IniFile::load(windowSettingsFile()).value(kRefineEdgesKey).value_or("true") != "false";
    GoLiveController::Services live;
    live.render = [renderer = engine_](int width, int height, ProgramCanvas canvas) {
        return renderer->renderSharedProgramFrame(width, height, canvas);
    };
    AudioMixController::Services mix;
    mix.sound = std::move(sound);
    audio_ = new app::AudioMixController(std::move(mix), this);
    live.sound = audio_->sharedSound();
    goLive_ = new app::GoLiveController(std::move(live), this);
    settingsFolder_ = feed::goLiveFolder();
    presenterSettings_ = feed::loadPresenterSettings(settingsFolder_);
    engine_->setInSetPresenterPlace(presenterSettings_.place);
    engine_->setInSetPresenterColourMatch(presenterSettings_.colourMatch);
    goLive_->setPresenterInSet(presenterSettings_.inSet);
    shots_ = new shots::ShotsModel(
        {[this] { return captureShot(); }, [this](const shots::Shot& shot) { return applyShot(shot); },
         shots::defaultShotsFile()},
        this);
    connect(shots_, &shots::ShotsModel::message, this, &VantryViewModel::setStatusBanner);
    if (!shots_->loadReport().isEmpty()) setStatusBanner(shots_->loadReport());

    // The renderer reports on the main thread; the value is stored by a task of its
    // own, and only while this view model still exists.
    QPointer<VantryViewModel> self(this);
    engine_->setOnFPSUpdate([self](double fps) {
        platform::postToMain([self, fps] {
            if (self) self->setLiveFPS(fps);
        });
    });
    setScreenRecording(creator::CreatorRecorder::shared());
    sync();
}

void VantryViewModel::setScreenRecording(std::shared_ptr<creator::CreatorRecorder> recording) {
    for (auto& c : screenRecordingConnections_) disconnect(c);
    screenRecordingConnections_.clear();
    screenRecording_ = std::move(recording);
    using Recorder = creator::CreatorRecorder;
    screenRecordingConnections_.push_back(connect(screenRecording_.get(), &Recorder::isRecordingChanged, this,
                                                  &VantryViewModel::screenRecordingChanged));
    screenRecordingConnections_.push_back(connect(screenRecording_.get(), &Recorder::isSavingChanged, this,
                                                  &VantryViewModel::screenRecordingChanged));
    screenRecordingConnections_.push_back(
        connect(screenRecording_.get(), &Recorder::outcome, this, &VantryViewModel::screenRecordingOutcome));
}

void VantryViewModel::finishScreenRecording(bool serveEvents) {
    // Nothing is recorded after the window, and what was recorded is saved.
    if (screenRecording_->state() == creator::CreatorRecorder::State::idle) return;
    const auto outcome =
        screenRecording_->finishNow(QString::fromUtf8(kRecordingTitle), kFinishRecordingMs, serveEvents);
    if (outcome) {
        std::fprintf(stderr, "vantry: %s\n", outcome->message.toUtf8().constData());
    } else {
        std::fprintf(stderr, "vantry: the screen recording was not finished in time\n");
    }
}

QString VantryViewModel::recoverUnfinishedFiles(const std::vector<std::filesystem::path>& folders) {
    std::vector<platform::PartialFile> found;
    for (const auto& folder : folders) {
        auto files = platform::recoverPartialFiles(folder);
        found.insert(found.end(), files.begin(), files.end());
    }
    const QString said = QString::fromStdString(platform::describePartialFiles(found));
    if (!said.isEmpty()) setStatusBanner(said);
    return said;
}

std::vector<std::filesystem::path> VantryViewModel::videoFolders() const {
    std::vector<std::filesystem::path> folders{platform::UserFolders::videos()};
    const std::filesystem::path clips = screenRecording_->clipsDirectory();
    if (clips != folders.front()) folders.push_back(clips);
    return folders;
}

void VantryViewModel::screenRecordingOutcome(const creator::RecordingOutcome& outcome) {
    using Kind = creator::RecordingOutcome::Kind;
    // With the overlay on, its own status line says it.
    if (showVisionPresenter_) return;
    if (outcome.kind == Kind::saved || outcome.kind == Kind::notSaved) setStatusBanner(outcome.message);
}

QObject* VantryViewModel::audioHandle() const {
    return audio_;
}

QObject* VantryViewModel::goLiveHandle() const {
    return goLive_;
}

VantryViewModel::~VantryViewModel() {
    endLiveSource();
    for (auto& c : screenRecordingConnections_) disconnect(c);
    finishScreenRecording(false);
    delete goLive_;  // the program feed stops before the renderer it draws with can go
    goLive_ = nullptr;
    for (std::thread& t : exportThreads_) {
        if (t.joinable()) t.join();
    }
}

QString VantryViewModel::selectedSetId() const {
    return qs(selectedSet_.id());
}
QString VantryViewModel::selectedSetTitle() const {
    return qs(selectedSet_.title());
}
QString VantryViewModel::proposedExportName() const {
    return QString::fromStdString(app::proposedExportName(selectedSet_));
}

void VantryViewModel::setCameraAngle(BroadcastCameraAngle angle) {
    if (angle == cameraAngle_) return;
    cameraAngle_ = angle;
    emit cameraAngleChanged();
}

void VantryViewModel::setCameraAngleId(int id) {
    if (auto angle = BroadcastCameraAngle::fromRawValue(id)) setCameraAngle(*angle);
}

void VantryViewModel::setKeyGain(float gain) {
    if (gain == keyGain_) return;
    keyGain_ = gain;
    emit keyGainChanged();
}

void VantryViewModel::setNeonGain(float gain) {
    if (gain == neonGain_) return;
    neonGain_ = gain;
    emit neonGainChanged();
}

void VantryViewModel::setLedBrightness(float brightness) {
    if (brightness == ledBrightness_) return;
    ledBrightness_ = brightness;
    emit ledBrightnessChanged();
}

void VantryViewModel::setShowVisionPresenter(bool show) {
    if (show == showVisionPresenter_) return;
    // The overlay goes with its switch, and so does its recording: stopped and saved now.
    if (!show) screenRecording_->end(QString::fromUtf8(kRecordingTitle));
    showVisionPresenter_ = show;
    emit showVisionPresenterChanged();
    pushInSetPresenter();
}

void VantryViewModel::choosePresenterInSet(bool inSet, bool remember) {
    if (inSet == presenterSettings_.inSet) return;
    presenterSettings_.inSet = inSet;
    goLive_->setPresenterInSet(inSet);
    if (remember) savePresenterSettings();
    emit presenterInSetChanged();
    pushInSetPresenter();
}

void VantryViewModel::chooseColourMatch(bool on, bool remember) {
    if (on == presenterSettings_.colourMatch) return;
    presenterSettings_.colourMatch = on;
    engine_->setInSetPresenterColourMatch(on);
    if (remember) savePresenterSettings();
    emit colourMatchChanged();
}

void VantryViewModel::setPresenter(QObject* presenter) {
    if (presenter == presenter_) return;
    for (auto& c : presenterConnections_) disconnect(c);
    presenterConnections_.clear();
    presenter_ = presenter;
    presenterSource_ = qobject_cast<creator::PresenterSource*>(presenter);
    if (presenterSource_) {
        presenterConnections_.push_back(connect(presenterSource_,
                                                &creator::PresenterSource::presenterSnapshotChanged, this,
                                                &VantryViewModel::pushInSetPresenter));
    }
    if (presenter) {
        // A presenter that goes away leaves the set with it (the pointers are null by then).
        presenterConnections_.push_back(connect(presenter, &QObject::destroyed, this, [this] {
            emit presenterChanged();
            pushInSetPresenter();
        }));
    }
    emit presenterChanged();
    pushInSetPresenter();
}

void VantryViewModel::pushInSetPresenter() {
    // In the set only while the presenter stands there, Vision Cutout is on and the camera
    // shows a picture; otherwise the studio is exactly as without a presenter. A snapshot with
    // the same picture (the meter, the window's place) changes nothing in the set.
    const creator::PresenterSource* source = presenterSource_.data();
    const bool show = presenterSettings_.inSet && showVisionPresenter_ && source &&
                      source->presenterSnapshot().cameraEnabled;
    const QImage picture = show ? source->presenterSnapshot().picture : QImage();
    if (picture.cacheKey() == pushedPictureKey_) return;
    engine_->setInSetPresenter(picture);
    pushedPictureKey_ = picture.cacheKey();
}

void VantryViewModel::movePresenterInSet(double dx, double dy, bool finished) {
    if (!dragStart_) dragStart_ = presenterSettings_.place;
    presenterSettings_.place = studio::dragPresenter(*dragStart_, float(dx), float(dy));
    engine_->setInSetPresenterPlace(presenterSettings_.place);
    if (finished) {
        dragStart_.reset();
        savePresenterSettings();
    }
}

void VantryViewModel::dragPresenterInSet(double pressX, double pressY, double x, double y, double viewWidth,
                                         double viewHeight, bool finished) {
    std::optional<Float3> grabbed;
    std::optional<Float3> pointed;
    if (viewWidth > 0 && viewHeight > 0) {
        const float aspect = studio::camera::liveAspect(int(viewWidth), int(viewHeight));
        grabbed = engine_->liveFloorPointAt(float(pressX / viewWidth), float(pressY / viewHeight), aspect);
        pointed = engine_->liveFloorPointAt(float(x / viewWidth), float(y / viewHeight), aspect);
    }
    if (!grabbed || !pointed) {
        movePresenterInSet(x - pressX, y - pressY, finished);
        return;
    }
    if (!dragStart_) dragStart_ = presenterSettings_.place;
    presenterSettings_.place = studio::dragPresenterOnFloor(*dragStart_, *grabbed, *pointed);
    engine_->setInSetPresenterPlace(presenterSettings_.place);
    if (finished) {
        dragStart_.reset();
        savePresenterSettings();
    }
}

void VantryViewModel::scalePresenterInSet(double step) {
    presenterSettings_.place = studio::scalePresenter(presenterSettings_.place, float(step));
    engine_->setInSetPresenterPlace(presenterSettings_.place);
    savePresenterSettings();
}

shots::Shot VantryViewModel::captureShot() const {
    shots::Shot shot;
    shot.set = selectedSet_;
    shot.angle = cameraAngle_;
    shot.keyGain = keyGain_;
    shot.neonGain = neonGain_;
    shot.ledBrightness = ledBrightness_;
    shot.wallImage = wallImage_.string();
    shot.wallKind = wallKind_;
    shot.slidePage = slidePage_;
    shot.visionCutout = showVisionPresenter_;
    shot.presenterInSet = presenterSettings_.inSet;
    shot.presenterPlace = presenterSettings_.place;
    // A new shot glides to its angle; the strip switches it to a cut.
    shot.transition = shots::Transition::move;
    shot.moveSeconds = 1.0f;
    return shot;
}

std::string VantryViewModel::applyShot(const shots::Shot& shot) {
    std::string problem;
    const bool sameSet = shot.set == selectedSet_;
    if (!sameSet) selectSet(shot.set);
    // The camera glides only within one set; a new set, or a cut, switches at once.
    if (!(shot.angle == cameraAngle_)) {
        if (sameSet && shot.transition == shots::Transition::move) {
            engine_->moveCameraAngle(shot.angle, shot.moveSeconds);
        } else {
            engine_->setCameraAngle(shot.angle);
        }
        setCameraAngle(shot.angle);
    }
    setKeyGain(shot.keyGain);
    setNeonGain(shot.neonGain);
    setLedBrightness(shot.ledBrightness);
    sync();
    problem = applyShotWall(shot);
    setShowVisionPresenter(shot.visionCutout);
    choosePresenterInSet(shot.presenterInSet, true);
    const studio::PresenterPlace place = studio::clampPresenterPlace(shot.presenterPlace);
    if (!(place == presenterSettings_.place)) {
        presenterSettings_.place = place;
        engine_->setInSetPresenterPlace(place);
        savePresenterSettings();
    }
    return problem;
}

void VantryViewModel::savePresenterSettings() {
    try {
        feed::savePresenterSettings(settingsFolder_, presenterSettings_);
    } catch (const std::exception& e) {
        setStatusBanner(QStringLiteral("Could not save the presenter setting: ") +
                        QString::fromUtf8(e.what()));
    }
}

void VantryViewModel::setRefineEdges(bool refine) {
    if (refine == refineEdges_) return;
    refineEdges_ = refine;
    try {
        auto settings = platform::IniFile::load(windowSettingsFile());
        settings.setValue(kRefineEdgesKey, refine ? "true" : "false");
        settings.save(windowSettingsFile());
    } catch (const std::filesystem::filesystem_error& e) {
        // A setting that cannot be written still applies to this run.
        std::fprintf(stderr, "vantry: cannot keep the Refine Edges choice: %s\n", e.what());
    }
    emit refineEdgesChanged();
}

void VantryViewModel::setSlideName(const QString& name) {
    if (name == slideName_) return;
    slideName_ = name;
    emit slideNameChanged();
}

void VantryViewModel::setLiveFPS(double fps) {
    if (fps == liveFPS_) return;
    liveFPS_ = fps;
    emit liveFPSChanged();
}

void VantryViewModel::setIsExporting(bool exporting) {
    if (exporting == isExporting_) return;
    isExporting_ = exporting;
    emit isExportingChanged();
}

void VantryViewModel::setExportProgress(double progress) {
    if (progress == exportProgress_) return;
    exportProgress_ = progress;
    emit exportProgressChanged();
}

void VantryViewModel::setStatusBanner(const QString& message) {
    // Repeating a message is still a new message: observers hear about it.
    statusBanner_ = message;
    emit statusBannerChanged();
}

QVariantList VantryViewModel::sets() {
    QVariantList list;
    for (BroadcastStudioSet set : BroadcastStudioSet::allCases()) {
        list.append(
            QVariantMap{{"id", qs(set.id())}, {"title", qs(set.title())}, {"subtitle", qs(set.subtitle())}});
    }
    return list;
}

QVariantList VantryViewModel::cameraAngles() {
    QVariantList list;
    for (BroadcastCameraAngle angle : BroadcastCameraAngle::allCases()) {
        list.append(QVariantMap{{"id", angle.id()}, {"title", qs(angle.title())}});
    }
    return list;
}

void VantryViewModel::sync() {
    engine_->setCameraAngle(cameraAngle_);
    engine_->setKeyLightGain(keyGain_);
    engine_->setNeonAccentGain(neonGain_);
    engine_->setLedWallBrightness(ledBrightness_);
}

void VantryViewModel::selectSet(BroadcastStudioSet set) {
    if (!(set == selectedSet_)) {
        selectedSet_ = set;
        emit selectedSetChanged();
    }
    engine_->loadSet(set);
    setStatusBanner(QString::fromStdString(app::switchedSetBanner(set)));
}

void VantryViewModel::selectSet(const QString& setId) {
    if (auto set = BroadcastStudioSet::fromRawValue(setId.toStdString())) selectSet(*set);
}

void VantryViewModel::loadSlidePanel() {
    if (!panels_) return;
    app::OpenPanelRequest request{std::string(app::kSlidePanelTitle),
                                  {{"PNG image", {"png"}},
                                   {"JPEG image", {"jpg", "jpeg"}},
                                   {"HEIC image", {"heic"}},
                                   {"PDF slide deck", {"pdf"}},
                                   {"Video", {"mp4", "mov", "mkv", "webm"}}}};
    QPointer<VantryViewModel> self(this);
    panels_->runOpenPanel(request, [self](std::optional<std::filesystem::path> file) {
        if (self && file) self->mountSlide(*file);
    });
}

void VantryViewModel::exportBroadcastMP4Panel() {
    if (!panels_) return;
    app::SavePanelRequest request{std::string(app::kExportPanelTitle),
                                  app::proposedExportName(selectedSet_),
                                  {{"MPEG-4 movie", {"mp4"}}}};
    QPointer<VantryViewModel> self(this);
    panels_->runSavePanel(request, [self](std::optional<std::filesystem::path> file) {
        if (self && file) self->startExport(*file);
    });
}

void VantryViewModel::startExport(const std::filesystem::path& destination) {
    setIsExporting(true);
    setExportProgress(0.0);
    QPointer<VantryViewModel> self(this);
    exportThreads_.emplace_back([engine = engine_, destination, self] {
        const auto progress = [self](int done, int total) {
            const double fraction = total > 0 ? static_cast<double>(done) / total : 0.0;
            platform::postToMain([self, fraction] {
                if (self && self->isExporting()) self->setExportProgress(fraction);
            });
        };
        std::int64_t bytes = 0;
        std::string failure;
        try {
            bytes = engine->exportBroadcastMP4(1920, 1080, 3.0, destination, progress);
        } catch (const std::exception& e) {
            failure = e.what();
            if (failure.empty()) failure = "the file could not be written";
        } catch (...) {
            failure = "the file could not be written";
        }
        // No bytes on disk is no export, whatever the writer said.
        if (failure.empty() && bytes <= 0) failure = "the file " + destination.string() + " is empty";
        platform::postToMain([self, bytes, failure = std::move(failure)] {
            if (self) self->finishExport(bytes, failure);
        });
    });
}

void VantryViewModel::finishExport(std::int64_t bytes, const std::string& failure) {
    setIsExporting(false);
    setExportProgress(0.0);
    setStatusBanner(QString::fromStdString(failure.empty() ? app::exportedBanner(bytes)
                                                           : app::exportFailedBanner(failure)));
}

}  // namespace vantry::app
