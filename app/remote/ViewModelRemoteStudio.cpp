#include "app/remote/ViewModelRemoteStudio.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QVariantMap>

#include "app/program-feed/ProgramFeed.h"
#include "app/studio-app/StudioText.h"
#include "app/studio-app/VantryViewModel.h"
#include "creator/studio-overlay/CreatorRecorder.h"
#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"

namespace vantry::remote {
namespace {

RecordingReply replyOf(const creator::RecordingOutcome& outcome) {
    using Kind = creator::RecordingOutcome::Kind;
    using Reply = RecordingReply::Kind;
    RecordingReply reply{Reply::failed, outcome.reason, outcome.file};
    switch (outcome.kind) {
        case Kind::started:
            reply.kind = Reply::started;
            break;
        case Kind::alreadyRunning:
            reply.kind = Reply::alreadyRunning;
            break;
        case Kind::saved:
            reply.kind = Reply::saved;
            break;
        case Kind::notRunning:
            reply.kind = Reply::notRunning;
            break;
        case Kind::starting:
            reply.kind = Reply::starting;
            break;
        case Kind::saving:
            reply.kind = Reply::saving;
            break;
        case Kind::unavailable:
            reply.kind = Reply::unavailable;
            break;
        case Kind::notStarted:
        case Kind::notSaved:
        case Kind::failing:
            break;
    }
    return reply;
}

}  // namespace

ViewModelRemoteStudio::ViewModelRemoteStudio(app::VantryViewModel& vm, QObject* parent)
    : RemoteStudio(parent), vm_(vm) {
    using VM = app::VantryViewModel;
    for (auto signal :
         {&VM::selectedSetChanged, &VM::cameraAngleChanged, &VM::keyGainChanged, &VM::neonGainChanged,
          &VM::ledBrightnessChanged, &VM::showVisionPresenterChanged, &VM::presenterInSetChanged,
          &VM::slideNameChanged, &VM::isExportingChanged, &VM::exportProgressChanged,
          &VM::statusBannerChanged, &VM::screenRecordingChanged, &VM::wallSourceChanged}) {
        connect(&vm_, signal, this, &RemoteStudio::changed);
    }
    connect(&vm_, &VM::presenterChanged, this, &ViewModelRemoteStudio::watchPresenter);
    connect(&vm_.goLive(), &app::GoLiveController::stateChanged, this, &RemoteStudio::changed);
    connect(&vm_.goLive(), &app::GoLiveController::destinationStatesChanged, this, &RemoteStudio::changed);
    connect(&vm_.goLive(), &app::GoLiveController::destinationsChanged, this, &RemoteStudio::changed);
    connect(&vm_.audio(), &app::AudioMixController::sourcesChanged, this, &RemoteStudio::changed);
    watchPresenter();
}

void ViewModelRemoteStudio::watchPresenter() {
    disconnect(presenterConnection_);
    disconnect(micConnection_);
    if (auto* controller = qobject_cast<creator::OruCreatorStudioControllerV1045*>(vm_.presenter()))
        micConnection_ = connect(controller, &creator::OruCreatorStudioControllerV1045::isMicIncludedChanged,
                                 this, &RemoteStudio::changed);
    // A snapshot announces the recording's start, stop and save alike. Every camera picture and
    // meter step makes one too: only those that change the recording are passed on, so the
    // server does not read the whole state 30 times a second.
    if (creator::PresenterSource* source = vm_.presenterSource()) {
        presenterConnection_ =
            connect(source, &creator::PresenterSource::presenterSnapshotChanged, this, [this, source] {
                const creator::PresenterSnapshot& s = source->presenterSnapshot();
                if (s.recording == heardRecording_ && s.saving == heardSaving_) return;
                heardRecording_ = s.recording;
                heardSaving_ = s.saving;
                emit changed();
            });
        heardRecording_ = source->presenterSnapshot().recording;
        heardSaving_ = source->presenterSnapshot().saving;
    }
    emit changed();
}

std::string ViewModelRemoteStudio::setId() const {
    return std::string(vm_.selectedSet().id());
}

std::string ViewModelRemoteStudio::setTitle() const {
    return std::string(vm_.selectedSet().title());
}

void ViewModelRemoteStudio::selectSet(const std::string& id) {
    if (const auto set = BroadcastStudioSet::fromRawValue(id)) vm_.selectSet(*set);
}

int ViewModelRemoteStudio::angle() const {
    return vm_.cameraAngleId();
}

std::string ViewModelRemoteStudio::angleTitle() const {
    return std::string(vm_.cameraAngle().title());
}

void ViewModelRemoteStudio::setAngle(int id) {
    const auto angle = BroadcastCameraAngle::fromRawValue(id);
    if (!angle) return;
    vm_.setCameraAngle(*angle);
    vm_.sync();
}

float ViewModelRemoteStudio::keyGain() const {
    return vm_.keyGain();
}

float ViewModelRemoteStudio::neonGain() const {
    return vm_.neonGain();
}

float ViewModelRemoteStudio::ledBrightness() const {
    return vm_.ledBrightness();
}

void ViewModelRemoteStudio::setGains(std::optional<float> key, std::optional<float> neon,
                                     std::optional<float> led) {
    if (key) vm_.setKeyGain(*key);
    if (neon) vm_.setNeonGain(*neon);
    if (led) vm_.setLedBrightness(*led);
    vm_.sync();
}

std::string ViewModelRemoteStudio::wallImage() const {
    return vm_.slideName().toStdString();
}

bool ViewModelRemoteStudio::mountSlide(const std::filesystem::path& file) {
    return vm_.mountSlide(file);
}

std::string ViewModelRemoteStudio::wallKind() const {
    return vm_.wallKindName().toStdString();
}

int ViewModelRemoteStudio::slidePage() const {
    return vm_.slidePage();
}

int ViewModelRemoteStudio::slideCount() const {
    return vm_.slideCount();
}

bool ViewModelRemoteStudio::stepSlide(bool forward) {
    return forward ? vm_.nextSlide() : vm_.previousSlide();
}

bool ViewModelRemoteStudio::setSlidePage(int page) {
    return vm_.setSlidePage(page);
}

bool ViewModelRemoteStudio::stopScreenShare() {
    return vm_.stopScreenShare();
}

bool ViewModelRemoteStudio::visionCutout() const {
    return vm_.showVisionPresenter();
}

void ViewModelRemoteStudio::setVisionCutout(bool on) {
    vm_.setShowVisionPresenter(on);
}

bool ViewModelRemoteStudio::presenterInSet() const {
    return vm_.presenterInSet();
}

void ViewModelRemoteStudio::setPresenterInSet(bool inSet) {
    vm_.setPresenterInSet(inSet);
}

bool ViewModelRemoteStudio::recorderAvailable() const {
    return vm_.presenter() != nullptr;
}

bool ViewModelRemoteStudio::isRecording() const {
    // The overlay's controller shows the studio's recording; without an overlay (Vision Cutout
    // off) a recording may still be being saved.
    if (vm_.presenter()) {
        const creator::PresenterSource* source = vm_.presenterSource();
        return source && source->presenterSnapshot().recording;
    }
    return vm_.screenRecording().isRecording();
}

bool ViewModelRemoteStudio::requestRecording(bool start, RecordingAnswer answer) {
    auto* recorder = dynamic_cast<creator::RecordingRequests*>(vm_.presenter());
    if (!recorder) return false;
    recorder->requestRecording(
        start, QString::fromUtf8(app::VantryViewModel::kRecordingTitle),
        [answer = std::move(answer)](const creator::RecordingOutcome& outcome) { answer(replyOf(outcome)); });
    return true;
}

bool ViewModelRemoteStudio::isExporting() const {
    return vm_.isExporting();
}

double ViewModelRemoteStudio::exportProgress() const {
    return vm_.exportProgress();
}

std::filesystem::path ViewModelRemoteStudio::proposedExportName() const {
    return app::proposedExportName(vm_.selectedSet());
}

void ViewModelRemoteStudio::startExport(const std::filesystem::path& file) {
    vm_.startExport(file);
}

bool ViewModelRemoteStudio::isLive() const {
    return vm_.goLive().isLive();
}

std::string ViewModelRemoteStudio::liveState() const {
    return vm_.goLive().state().toStdString();
}

std::string ViewModelRemoteStudio::liveStatus() const {
    return vm_.goLive().statusLine().toStdString();
}

std::vector<LiveDestinationState> ViewModelRemoteStudio::liveDestinations() const {
    std::vector<LiveDestinationState> out;
    const QVariantList states = vm_.goLive().destinationStates();
    for (int i = 0; i < states.size(); ++i) {
        const QVariantMap d = states[i].toMap();
        const QString state = d.value(QStringLiteral("state")).toString();
        if (state == QLatin1String("idle")) continue;
        out.push_back(
            {i + 1, state.toStdString(), d.value(QStringLiteral("statusLine")).toString().toStdString()});
    }
    return out;
}

std::vector<std::string> ViewModelRemoteStudio::destinationCanvases() const {
    std::vector<std::string> out;
    for (const QVariant& d : vm_.goLive().destinations())
        out.push_back(d.toMap().value(QStringLiteral("canvas")).toString().toStdString());
    return out;
}

void ViewModelRemoteStudio::goLive() {
    vm_.goLive().goLive();
}

void ViewModelRemoteStudio::endStream() {
    vm_.goLive().endStream();
}

std::string ViewModelRemoteStudio::statusBanner() const {
    return vm_.statusBannerText().toStdString();
}

bool ViewModelRemoteStudio::micAvailable() const {
    return qobject_cast<creator::OruCreatorStudioControllerV1045*>(vm_.presenter()) != nullptr;
}

bool ViewModelRemoteStudio::micMuted() const {
    const auto* controller = qobject_cast<creator::OruCreatorStudioControllerV1045*>(vm_.presenter());
    return !controller || !controller->isMicIncluded();
}

void ViewModelRemoteStudio::setMicMuted(bool muted) {
    if (auto* controller = qobject_cast<creator::OruCreatorStudioControllerV1045*>(vm_.presenter()))
        controller->setMicIncluded(!muted);
}

double ViewModelRemoteStudio::micLevel() const {
    const auto* controller = qobject_cast<creator::OruCreatorStudioControllerV1045*>(vm_.presenter());
    return controller && controller->isMicIncluded() ? controller->micActivityLevel() : 0.0;
}

bool ViewModelRemoteStudio::requestProgramPicture(int width, int height, PictureAnswer answer) {
    std::shared_ptr<app::StudioRenderer> renderer = vm_.engine();
    if (!renderer || width <= 0 || height <= 0) return false;
    // The presenter as the program feed lays it over the studio, read here on the main thread.
    app::feed::ProgramPresenter presenter = vm_.goLive().currentPresenter();
    // The renderer waits for its offscreen context: never on the main thread.
    QThreadPool::globalInstance()->start([renderer, width, height, presenter = std::move(presenter),
                                          self = QPointer<ViewModelRemoteStudio>(this),
                                          answer = std::move(answer)]() mutable {
        QImage picture;
        if (const auto frame = renderer->renderProgramFrame(width, height);
            frame && frame->size() == std::size_t(width) * std::size_t(height) * 4) {
            // B G R A bytes are premultiplied ARGB32 words on a little-endian machine.
            picture =
                QImage(frame->data(), width, height, width * 4, QImage::Format_ARGB32_Premultiplied).copy();
            app::feed::composePresenter(picture, presenter);
        }
        QCoreApplication* application = QCoreApplication::instance();
        if (!application) return;  // the program is ending: nobody waits for the picture
        QMetaObject::invokeMethod(
            application,
            [self, picture = std::move(picture), answer = std::move(answer)] {
                if (self) answer(picture);
            },
            Qt::QueuedConnection);
    });
    return true;
}

}  // namespace vantry::remote

namespace vantry::remote {

std::vector<AudioSourceState> ViewModelRemoteStudio::audioSources() const {
    std::vector<AudioSourceState> out;
    for (const QVariant& entry : vm_.audio().sources()) {
        const QVariantMap m = entry.toMap();
        out.push_back({m["id"].toString().toStdString(), m["muted"].toBool(), m["gainDb"].toDouble(),
                       m["device"].toString().toStdString()});
    }
    return out;
}

bool ViewModelRemoteStudio::setAudioMute(const std::string& source, bool on) {
    return vm_.audio().setMuted(QString::fromStdString(source), on);
}

bool ViewModelRemoteStudio::setAudioGain(const std::string& source, double db) {
    return vm_.audio().setGainDb(QString::fromStdString(source), db);
}

std::vector<AudioMeter> ViewModelRemoteStudio::audioMeters() const {
    std::vector<AudioMeter> out;
    const QVariantList meters = vm_.audio().meters();
    for (int i = 0; i < meters.size(); ++i) {
        const QVariantMap m = meters[i].toMap();
        const std::string source = i < audio::kMixSourceCount
                                       ? std::string(app::mixSourceId(audio::MixSource(i)))
                                       : std::string("mix");
        out.push_back({source, m["peakDb"].toDouble(), m["rmsDb"].toDouble()});
    }
    return out;
}

}  // namespace vantry::remote
