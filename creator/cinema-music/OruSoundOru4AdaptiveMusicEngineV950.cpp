#include "creator/cinema-music/OruSoundOru4AdaptiveMusicEngineV950.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <algorithm>

#include "platform/audio-output/QtAudioBackend.h"
#include "platform/dispatch/MainThreadDispatcher.h"

namespace vantry::creator {

OruSoundOru4AdaptiveMusicEngineV950& OruSoundOru4AdaptiveMusicEngineV950::shared() {
    // Function-local static: initialised exactly once even when several threads ask at the same time.
    static OruSoundOru4AdaptiveMusicEngineV950* const engine = [] {
        auto* e = new OruSoundOru4AdaptiveMusicEngineV950(std::make_shared<platform::QtAudioBackend>());
        // Belongs to the main thread whichever thread asked first.
        if (auto* app = QCoreApplication::instance(); app && e->thread() != app->thread())
            e->moveToThread(app->thread());
        return e;
    }();
    return *engine;
}

OruSoundOru4AdaptiveMusicEngineV950::OruSoundOru4AdaptiveMusicEngineV950(
    std::shared_ptr<platform::AudioBackend> backend, QObject* parent)
    : QObject(parent), backend_(std::move(backend)) {}

OruSoundOru4AdaptiveMusicEngineV950::~OruSoundOru4AdaptiveMusicEngineV950() {
    std::lock_guard graph(graphLock_);
    if (playerNode_) playerNode_->stop();
}

void OruSoundOru4AdaptiveMusicEngineV950::publish(void (OruSoundOru4AdaptiveMusicEngineV950::*signal)()) {
    if (QThread::currentThread() == thread()) {
        emit(this->*signal)();
        return;
    }
    // The weak reference is read on the main thread, where the engine is destroyed.
    QPointer<OruSoundOru4AdaptiveMusicEngineV950> self(this);
    platform::postToMain([self, signal] {
        if (self) emit(self.data()->*signal)();
    });
}

bool OruSoundOru4AdaptiveMusicEngineV950::isPlaying() const {
    std::lock_guard guard(lock_);
    return isPlaying_;
}

bool OruSoundOru4AdaptiveMusicEngineV950::hasAudioGraph() const {
    std::lock_guard guard(graphLock_);
    return audioEngine_ != nullptr;
}

OruMusicIntensityStateV950 OruSoundOru4AdaptiveMusicEngineV950::currentState() const {
    std::lock_guard guard(lock_);
    return currentState_;
}

QString OruSoundOru4AdaptiveMusicEngineV950::currentStateName() const {
    const auto raw = currentState().rawValue();
    return QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size()));
}

double OruSoundOru4AdaptiveMusicEngineV950::targetBPM() const {
    std::lock_guard guard(lock_);
    return targetBPM_;
}

void OruSoundOru4AdaptiveMusicEngineV950::setIntensity(OruMusicIntensityStateV950 state) {
    bool stateChanged, bpmChanged;
    {
        std::lock_guard guard(lock_);
        stateChanged = !(currentState_ == state);
        bpmChanged = targetBPM_ != state.targetBPM();
        currentState_ = state;
        targetBPM_ = state.targetBPM();
    }
    if (stateChanged) publish(&OruSoundOru4AdaptiveMusicEngineV950::currentStateChanged);
    if (bpmChanged) publish(&OruSoundOru4AdaptiveMusicEngineV950::targetBPMChanged);
}

void OruSoundOru4AdaptiveMusicEngineV950::setIntensityNamed(const QString& stateName) {
    if (auto state = OruMusicIntensityStateV950::fromRawValue(stateName.toStdString())) setIntensity(*state);
}

OruSynthesizedStemBufferV950 OruSoundOru4AdaptiveMusicEngineV950::synthesizeStemBuffer(
    OruMusicIntensityStateV950 state, double durationSec, double sampleRate) {
    setIntensity(state);
    return creator::synthesizeStemBuffer(state, durationSec, sampleRate);
}

void OruSoundOru4AdaptiveMusicEngineV950::startAdaptiveScore(OruMusicIntensityStateV950 state, bool dryRun) {
    setIntensity(state);
    if (dryRun || !backend_) return;

    auto synth = synthesizeStemBuffer(state, kLoopSeconds, kLoopSampleRate);
    const auto n = synth.samplesL.size();
    const auto format = backend_->standardFormat(kLoopSampleRate, 2);
    if (!format) return;
    auto buffer = backend_->makeBuffer(*format, n);
    if (!buffer || buffer->channels.size() < 2 || buffer->frameCapacity < n) return;
    buffer->frameLength = static_cast<std::uint32_t>(n);
    std::copy(synth.samplesL.begin(), synth.samplesL.end(), buffer->channels[0].begin());
    std::copy(synth.samplesR.begin(), synth.samplesR.end(), buffer->channels[1].begin());

    std::unique_lock graph(graphLock_);
    if (!audioEngine_) {
        auto engine = backend_->makeEngine();
        auto player = backend_->makePlayerNode();
        if (!engine || !player) return;
        engine->attach(player);
        engine->connectToMainMixer(player, buffer->format);
        audioEngine_ = std::move(engine);
        playerNode_ = std::move(player);
    }
    try {
        audioEngine_->start();
    } catch (...) {
        // An output that cannot start (no device) leaves the loop silent; the score carries on.
    }
    playerNode_->stop();
    playerNode_->scheduleLooping(std::move(buffer));
    playerNode_->setVolume(kPlaybackVolume);
    playerNode_->play();
    graph.unlock();
    bool started = false;
    {
        std::lock_guard guard(lock_);
        started = !isPlaying_;
        isPlaying_ = true;
    }
    if (started) publish(&OruSoundOru4AdaptiveMusicEngineV950::isPlayingChanged);
}

void OruSoundOru4AdaptiveMusicEngineV950::startAdaptiveScoreNamed(const QString& stateName, bool dryRun) {
    if (auto state = OruMusicIntensityStateV950::fromRawValue(stateName.toStdString()))
        startAdaptiveScore(*state, dryRun);
}

}  // namespace vantry::creator
