// The process-wide adaptive music engine: holds the intensity state and tempo, synthesises the loop
// for a state and plays it, looping, through an audio output graph.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>

#include "creator/cinema-music/MusicSynthesis.h"
#include "platform/audio-output/AudioGraph.h"

namespace vantry::creator {

class OruSoundOru4AdaptiveMusicEngineV950 : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString currentState READ currentStateName NOTIFY currentStateChanged)
    Q_PROPERTY(double targetBPM READ targetBPM NOTIFY targetBPMChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)

  public:
    static constexpr double kLoopSeconds = 4.0;
    static constexpr double kLoopSampleRate = 44100.0;
    static constexpr float kPlaybackVolume = 0.24f;
    static constexpr double kInitialBPM = 92.0;

    // Created on first use (safe under concurrent first use), on Qt Multimedia; lives until the process ends.
    static OruSoundOru4AdaptiveMusicEngineV950& shared();

    // An engine over any output (tests use a fake one).
    explicit OruSoundOru4AdaptiveMusicEngineV950(std::shared_ptr<platform::AudioBackend> backend,
                                                 QObject* parent = nullptr);
    ~OruSoundOru4AdaptiveMusicEngineV950() override;

    OruMusicIntensityStateV950 currentState() const;
    QString currentStateName() const;
    double targetBPM() const;
    bool isPlaying() const;

    void setIntensity(OruMusicIntensityStateV950 state);
    // Unknown names are ignored.
    Q_INVOKABLE void setIntensityNamed(const QString& stateName);
    static OruStemGainsV950 stemGains(OruMusicIntensityStateV950 state) { return state.stemGains(); }
    // Sets the state, then synthesises (see synthesizeStemBuffer in MusicSynthesis.h).
    OruSynthesizedStemBufferV950 synthesizeStemBuffer(OruMusicIntensityStateV950 state, double durationSec,
                                                      double sampleRate);
    // Sets the state; unless dryRun, synthesises the 4-second loop and plays it looping at volume 0.24,
    // replacing any loop already playing. Format or buffer failures return quietly after the state
    // change; an output that cannot start is ignored.
    void startAdaptiveScore(OruMusicIntensityStateV950 state, bool dryRun);
    Q_INVOKABLE void startAdaptiveScoreNamed(const QString& stateName, bool dryRun);

    // Whether the audio objects exist yet (they are built on the first start that is not a dry run).
    bool hasAudioGraph() const;

    // Every method may be called from any thread. The values change at once; the change
    // signals are emitted on the engine's own (main) thread only: directly when called
    // there, otherwise posted there through platform::postToMain.
  signals:
    void currentStateChanged();
    void targetBPMChanged();
    void isPlayingChanged();

  private:
    void publish(void (OruSoundOru4AdaptiveMusicEngineV950::*signal)());

    // Guards the published values.
    mutable std::mutex lock_;
    OruMusicIntensityStateV950 currentState_ = OruMusicIntensityStateV950::ambientExploration;
    double targetBPM_ = kInitialBPM;
    bool isPlaying_ = false;
    // Guards the audio graph; one start at a time builds or restarts it.
    mutable std::mutex graphLock_;
    std::shared_ptr<platform::AudioEngine> audioEngine_;
    std::shared_ptr<platform::AudioPlayerNode> playerNode_;
    std::shared_ptr<platform::AudioBackend> backend_;
};

}  // namespace vantry::creator
