#include <gtest/gtest.h>

#include <QAudioFormat>
#include <QCoreApplication>
#include <QSignalSpy>
#include <cstring>
#include <thread>

#include "creator/cinema-music/OruSoundOru4AdaptiveMusicEngineV950.h"
#include "platform/audio-output/QtAudioBackend.h"

using namespace vantry::creator;
using namespace vantry::platform;
using Engine = OruSoundOru4AdaptiveMusicEngineV950;
using State = OruMusicIntensityStateV950;

namespace {

struct Counters {
    int engines = 0, players = 0, buffers = 0, attaches = 0, connects = 0, starts = 0;
    int stops = 0, schedules = 0, plays = 0;
    float volume = -1;
    std::shared_ptr<const PcmBuffer> scheduled;
    bool failFormat = false, failBuffer = false, failStart = false;
};

class FakePlayer : public AudioPlayerNode {
  public:
    explicit FakePlayer(Counters& c) : c_(c) {}
    void stop() override { ++c_.stops, c_.scheduled.reset(); }
    void scheduleLooping(std::shared_ptr<const PcmBuffer> b) override {
        EXPECT_EQ(c_.scheduled, nullptr) << "a second loop was scheduled without a stop";
        ++c_.schedules, c_.scheduled = std::move(b);
    }
    void setVolume(float v) override { c_.volume = v; }
    void play() override { ++c_.plays; }

  private:
    Counters& c_;
};

class FakeEngine : public AudioEngine {
  public:
    explicit FakeEngine(Counters& c) : c_(c) {}
    void attach(const std::shared_ptr<AudioPlayerNode>&) override { ++c_.attaches; }
    void connectToMainMixer(const std::shared_ptr<AudioPlayerNode>&, const PcmFormat& f) override {
        ++c_.connects;
        EXPECT_EQ(f, (PcmFormat{44100, 2}));
    }
    void start() override {
        ++c_.starts;
        if (c_.failStart) throw AudioError("no device");
    }

  private:
    Counters& c_;
};

class FakeBackend : public AudioBackend {
  public:
    Counters c;
    std::optional<PcmFormat> standardFormat(double rate, int channels) override {
        if (c.failFormat) return std::nullopt;
        return makeStandardPcmFormat(rate, channels);
    }
    std::shared_ptr<PcmBuffer> makeBuffer(const PcmFormat& f, std::uint64_t n) override {
        if (c.failBuffer) return nullptr;
        ++c.buffers;
        return makePcmBuffer(f, n);
    }
    std::shared_ptr<AudioEngine> makeEngine() override {
        return ++c.engines, std::make_shared<FakeEngine>(c);
    }
    std::shared_ptr<AudioPlayerNode> makePlayerNode() override {
        return ++c.players, std::make_shared<FakePlayer>(c);
    }
};

}  // namespace

TEST(MusicEngine, FreshEngineAndIntensity) {
    auto backend = std::make_shared<FakeBackend>();
    Engine e(backend);
    EXPECT_EQ(e.targetBPM(), 92.0);
    EXPECT_EQ(e.currentState(), State::ambientExploration);
    EXPECT_FALSE(e.isPlaying());
    QSignalSpy bpm(&e, &Engine::targetBPMChanged);
    QSignalSpy state(&e, &Engine::currentStateChanged);
    e.setIntensity(State::ambientExploration);
    EXPECT_EQ(e.targetBPM(), 88.0);
    EXPECT_EQ(bpm.count(), 1);
    EXPECT_EQ(state.count(), 0);
    e.setIntensityNamed("victoryResolve");
    EXPECT_EQ(e.currentStateName(), "victoryResolve");
    e.setIntensityNamed("nonsense");
    EXPECT_EQ(e.currentState(), State::victoryResolve);
    EXPECT_EQ(Engine::stemGains(State::coastalSerene), (OruStemGainsV950{0.42f, 0.14f, 0.0f, 0.18f}));

    const auto b = e.synthesizeStemBuffer(State::tensionPulse, 0.01, 44100);
    EXPECT_EQ(e.currentState(), State::tensionPulse);
    EXPECT_EQ(b.snapshot.bpm, 108);
}

TEST(MusicEngine, DryRunCreatesNoAudioObjects) {
    auto backend = std::make_shared<FakeBackend>();
    Engine e(backend);
    e.startAdaptiveScore(State::combatDrive, true);
    EXPECT_EQ(e.currentState(), State::combatDrive);
    EXPECT_EQ(e.targetBPM(), 128.0);
    EXPECT_FALSE(e.hasAudioGraph());
    EXPECT_EQ(backend->c.engines + backend->c.players + backend->c.buffers, 0);
    EXPECT_FALSE(e.isPlaying());
}

TEST(MusicEngine, TwoStartsBuildTheGraphOnceAndKeepOneLoop) {
    auto backend = std::make_shared<FakeBackend>();
    Engine e(backend);
    QSignalSpy playing(&e, &Engine::isPlayingChanged);
    e.startAdaptiveScore(State::combatDrive, false);
    e.startAdaptiveScore(State::heroicBossBrass, false);
    const auto& c = backend->c;
    EXPECT_EQ(c.engines, 1);
    EXPECT_EQ(c.players, 1);
    EXPECT_EQ(c.attaches, 1);
    EXPECT_EQ(c.connects, 1);
    EXPECT_EQ(c.starts, 2);
    EXPECT_EQ(c.schedules, 2);
    EXPECT_EQ(c.plays, 2);
    EXPECT_EQ(c.volume, 0.24f);
    ASSERT_NE(c.scheduled, nullptr);
    EXPECT_EQ(c.scheduled->frameLength, 176400u);
    EXPECT_EQ(c.scheduled->channels[0], synthesizeStemBuffer(State::heroicBossBrass, 4.0, 44100).samplesL);
    EXPECT_TRUE(e.isPlaying());
    EXPECT_EQ(playing.count(), 1);
    EXPECT_EQ(e.currentState(), State::heroicBossBrass);
}

TEST(MusicEngine, FailuresAreQuiet) {
    {
        auto backend = std::make_shared<FakeBackend>();
        backend->c.failFormat = true;
        Engine e(backend);
        e.startAdaptiveScore(State::tensionPulse, false);
        EXPECT_EQ(e.currentState(), State::tensionPulse);
        EXPECT_FALSE(e.isPlaying());
        EXPECT_FALSE(e.hasAudioGraph());
    }
    {
        auto backend = std::make_shared<FakeBackend>();
        backend->c.failBuffer = true;
        Engine e(backend);
        e.startAdaptiveScore(State::tensionPulse, false);
        EXPECT_FALSE(e.isPlaying());
        EXPECT_EQ(backend->c.engines, 0);
    }
    {
        // An output that cannot start: the loop is still scheduled and told to play.
        auto backend = std::make_shared<FakeBackend>();
        backend->c.failStart = true;
        Engine e(backend);
        e.startAdaptiveScore(State::victoryResolve, false);
        EXPECT_TRUE(e.isPlaying());
        EXPECT_EQ(backend->c.plays, 1);
        EXPECT_NE(backend->c.scheduled, nullptr);
    }
}

TEST(MusicEngine, SharedIsCreatedOnceUnderConcurrentFirstUse) {
    std::vector<Engine*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = &Engine::shared(); });
    for (auto& t : threads) t.join();
    for (auto* e : seen) EXPECT_EQ(e, seen[0]);
    EXPECT_EQ(&Engine::shared(), seen[0]);
}

TEST(MusicEngine, QtOutputWithoutADeviceIsSilent) {
    // Offscreen machines have no audio output: starting must neither throw nor block.
    int argc = 1;
    char name[] = "music_engine_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Engine e(std::make_shared<QtAudioBackend>());
    e.startAdaptiveScore(State::coastalSerene, false);
    e.startAdaptiveScore(State::combatDrive, false);
    EXPECT_TRUE(e.isPlaying());
    EXPECT_TRUE(e.hasAudioGraph());
    EXPECT_EQ(e.targetBPM(), 128.0);
}

TEST(AudioConversion, FormatsRatesAndChannels) {
    auto buffer = makePcmBuffer({44100, 2}, 4);
    ASSERT_NE(buffer, nullptr);
    buffer->frameLength = 4;
    buffer->channels[0] = {0.0f, 0.5f, -0.5f, 1.0f};
    buffer->channels[1] = {0.25f, 0.25f, 0.25f, 0.25f};

    QAudioFormat f;
    f.setSampleRate(44100);
    f.setChannelCount(2);
    f.setSampleFormat(QAudioFormat::Float);
    QByteArray bytes = convertPcmForDevice(*buffer, f);
    ASSERT_EQ(bytes.size(), 4 * 2 * 4);
    float first[2];
    std::memcpy(first, bytes.constData() + 8, sizeof first);
    EXPECT_EQ(first[0], 0.5f);
    EXPECT_EQ(first[1], 0.25f);

    f.setChannelCount(1);
    f.setSampleFormat(QAudioFormat::Int16);
    bytes = convertPcmForDevice(*buffer, f);
    ASSERT_EQ(bytes.size(), 4 * 2);
    qint16 mono[4];
    std::memcpy(mono, bytes.constData(), sizeof mono);
    EXPECT_EQ(mono[0], qint16(std::lround(0.125f * 32767)));
    EXPECT_EQ(mono[3], qint16(std::lround(0.625f * 32767)));

    f.setSampleRate(88200);
    bytes = convertPcmForDevice(*buffer, f);
    EXPECT_EQ(bytes.size(), 8 * 2);

    EXPECT_EQ(makePcmBuffer({44100, 2}, 0), nullptr);
    EXPECT_EQ(makePcmBuffer({44100, 2}, 1ull << 32), nullptr);
    EXPECT_FALSE(makeStandardPcmFormat(0, 2));
    EXPECT_FALSE(makeStandardPcmFormat(44100, 0));
}

TEST(AudioConversion, LoopingSourceWraps) {
    LoopingByteSource src(QByteArray("abcd"));
    src.open(QIODevice::ReadOnly);
    char out[10];
    ASSERT_EQ(src.read(out, 10), 10);
    EXPECT_EQ(std::string(out, 10), "abcdabcdab");
    ASSERT_EQ(src.read(out, 3), 3);
    EXPECT_EQ(std::string(out, 3), "cda");
}

TEST(MusicEngine, PropertiesReadableByName) {
    Engine e(std::make_shared<FakeBackend>());
    EXPECT_EQ(e.property("targetBPM").toDouble(), 92.0);
    EXPECT_EQ(e.property("currentState").toString(), "ambientExploration");
    EXPECT_FALSE(e.property("isPlaying").toBool());
    EXPECT_TRUE(QMetaObject::invokeMethod(&e, "startAdaptiveScoreNamed", Q_ARG(QString, "combatDrive"),
                                          Q_ARG(bool, true)));
    EXPECT_EQ(e.property("targetBPM").toDouble(), 128.0);
    EXPECT_EQ(e.property("currentState").toString(), "combatDrive");
}
