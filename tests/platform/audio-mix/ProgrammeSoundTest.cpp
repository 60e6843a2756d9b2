// The programme sound engine: sound lined up by its capture time, and a private PulseAudio
// server whose devices come and go under it.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <vector>

#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/audio-mix/SoundDevices.h"
#include "platform/audio-mix/StampedFifo.h"
#include "tests/platform/screen-recorder/RecorderTestSupport.h"
#include "tests/support/PulseModules.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;
using vantry::audio::MixSource;
using vantry::platform::ProgrammeSound;
using vantry::platform::ProgrammeSoundOptions;
using vantry::platform::SoundSourceState;
using vantry::platform::StampedFifo;
using namespace std::chrono_literals;

// Frames i of a piece hold `first + i`, so what comes out tells where it came from.
std::vector<float> ramp(int frames, float first) {
    std::vector<float> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) v[std::size_t(i)] = first + float(i);
    return v;
}

TEST(StampedFifoTest, TakesSoundByItsCaptureTime) {
    // 48 frames a millisecond: a piece of 19200 frames stamped 1 s covers 400 ms.
    constexpr std::int64_t t0 = 1'000'000, tolerance = StampedFifo::kToleranceUs;
    constexpr auto frames = [](std::int64_t us) { return int(us * 48 / 1000); };
    struct Case {
        const char* what;
        std::int64_t firstUs;  // the first request: the sound is put in place for it
        std::int64_t nextUs;   // the second, 10 ms of sound later in the held sound's time
        float first;           // the second request's first real frame
        int silence;           // frames of silence before it
    };
    const Case cases[] = {
        {"on time", t0, t0 + 10'000, 480.0f, 0},
        {"started early: silence exactly until the sound", t0 - 4000, t0 + 6000, 288.0f, 0},
        {"started late: the older sound dropped exactly", t0 + 70'000, t0 + 80'000, float(frames(80'000)), 0},
        {"wandering within the tolerance runs on", t0, t0 + 10'000 + tolerance - 1000, 480.0f, 0},
        {"beyond it, put in place again", t0, t0 + 10'000 + tolerance + 10'000,
         float(frames(20'000 + tolerance)), 0},
        {"earlier beyond it: silence until the sound", t0, t0 + 10'000 - tolerance - 5000, 480.0f,
         frames(tolerance + 5000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StampedFifo fifo(48000);
        const auto piece = ramp(19200, 0.0f);
        fifo.write(piece.data(), piece.data(), 19200, t0);
        std::array<float, 9600> left{}, right{};
        const int firstSilence = c.firstUs < t0 ? frames(t0 - c.firstUs) : 0;
        EXPECT_EQ(fifo.take(left.data(), right.data(), 480, c.firstUs), 480 - firstSilence);
        left.fill(-1.0f);
        const int n = c.silence + 480;
        EXPECT_EQ(fifo.take(left.data(), right.data(), n, c.nextUs), n - c.silence);
        for (int i = 0; i < c.silence; ++i) ASSERT_EQ(left[std::size_t(i)], 0.0f) << i;
        EXPECT_EQ(left[std::size_t(c.silence)], c.first);
    }
}

TEST(StampedFifoTest, APieceThatDoesNotFollowOnStartsAfresh) {
    StampedFifo fifo(48000);
    const auto a = ramp(480, 0.0f), b = ramp(480, 1000.0f), c = ramp(480, 5000.0f);
    fifo.write(a.data(), a.data(), 480, 1'000'000);
    fifo.write(b.data(), b.data(), 480, 1'010'000 + 30'000);  // wandering stamps: it follows on
    EXPECT_EQ(fifo.size(), 960);
    fifo.write(c.data(), c.data(), 480, 2'000'000);  // a device reopened a second later
    EXPECT_EQ(fifo.size(), 480);
    EXPECT_EQ(fifo.headUs(), 2'000'000);
    std::array<float, 480> left{}, right{};
    EXPECT_EQ(fifo.take(left.data(), right.data(), 480, 2'000'000), 480);
    EXPECT_EQ(left[0], 5000.0f);
    EXPECT_EQ(fifo.take(left.data(), right.data(), 480, 2'010'000), 0) << "nothing held: silence";
}

// A private server of this test with PULSE_SERVER pointing at it.
class ProgrammeSoundServer : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        server = vantry::testing::PrivatePulseServer::start(why);
        ASSERT_TRUE(server) << "no sound server could be started: " << why;
        ::setenv("PULSE_SERVER", server->address().c_str(), 1);
        dir = fs::temp_directory_path() / ("vantry-programme-sound-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        vantry::testing::writeToneWav(dir / "tone.wav", 440.0, 30.0, 48000);
    }
    void TearDown() override {
        for (pid_t p : players) vantry::testing::stopChild(p, SIGTERM);
        ::unsetenv("PULSE_SERVER");
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    void play(const std::string& sink) {
        const pid_t p = vantry::testing::spawn({"paplay", "--device=" + sink, (dir / "tone.wav").string()});
        ASSERT_GT(p, 0) << "paplay is missing";
        players.push_back(p);
    }
    std::unique_ptr<vantry::testing::PrivatePulseServer> server;
    fs::path dir;
    std::vector<pid_t> players;
};

TEST_F(ProgrammeSoundServer, AMicrophoneThatGoesAwayLeavesSilenceAndIsTakenBackWhenItReturns) {
    const int module = vantry::testing::loadNullSink("vantry_usb_mic");
    ASSERT_GE(module, 0);
    ProgrammeSoundOptions options;
    options.micSource = "vantry_usb_mic.monitor";
    options.desktopSource.clear();
    options.retryMs = 50;
    ProgrammeSound sound(options);
    auto tap = sound.tap();
    ASSERT_TRUE(vantry::testing::waitUntil(
        [&] { return sound.status(MixSource::mic).state == SoundSourceState::live; }, 10));
    EXPECT_EQ(sound.message(), "");
    play("vantry_usb_mic");
    ASSERT_TRUE(vantry::testing::soundArrives(*tap));

    // Pulled: the mix goes on (blocks keep coming, silent) and says which device is gone.
    ASSERT_TRUE(vantry::testing::unloadModule(module));
    ASSERT_TRUE(vantry::testing::waitUntil(
        [&] { return sound.status(MixSource::mic).state == SoundSourceState::missing; }, 10));
    EXPECT_EQ(sound.status(MixSource::mic).lost, 1);
    EXPECT_EQ(sound.message().rfind("Mic/Aux: ", 0), 0u) << sound.message();
    EXPECT_TRUE(sound.serverReachable());
    ProgrammeSound::Block block;
    while (tap->tryPop(block)) {
    }
    // The block the mix was making when the device was found gone may still carry what was
    // captured last (the server moves a vanishing device's capture elsewhere until then), and
    // the chain's delay (noise suppression: a block; the limiter's look-ahead: less than one)
    // carries it into the two blocks after; every block after those is silent.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(tap->pop(block, 2s)) << "the mix stopped with its microphone";
    }
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(tap->pop(block, 2s)) << "the mix stopped with its microphone";
        EXPECT_EQ(vantry::testing::rms(block.left, 0, block.left.size()), 0.0);
    }

    // Plugged in again: found by the next try, and its sound is in the mix again.
    ASSERT_GE(vantry::testing::loadNullSink("vantry_usb_mic"), 0);
    ASSERT_TRUE(vantry::testing::waitUntil(
        [&] { return sound.status(MixSource::mic).state == SoundSourceState::live; }, 10));
    EXPECT_EQ(sound.status(MixSource::mic).opened, 2);
    EXPECT_EQ(sound.message(), "");
    play("vantry_usb_mic");
    EXPECT_TRUE(vantry::testing::soundArrives(*tap));
}

TEST_F(ProgrammeSoundServer, GainAndMuteReachTheMixAndTheDevicesAreListed) {
    ASSERT_GE(vantry::testing::loadNullSink("vantry_desk"), 0);
    ProgrammeSoundOptions options;
    options.micSource.clear();
    options.desktopSource = "vantry_desk.monitor";
    ProgrammeSound sound(options);
    auto tap = sound.tap();
    play("vantry_desk");
    ASSERT_TRUE(vantry::testing::soundArrives(*tap));
    // The tone's RMS is 12000 / 32768 / sqrt(2).
    const double tone = 12000.0 / 32768.0 / std::sqrt(2.0);
    struct Case {
        const char* what;
        vantry::audio::SourceSettings settings;
        double expected;
    };
    const Case cases[] = {
        {"as it comes", {false, 0.0f, 0}, tone},
        {"-6 dB", {false, -6.0f, 0}, tone * std::pow(10.0, -6.0 / 20)},
        {"muted", {true, 0.0f, 0}, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sound.mixer().setSettings(MixSource::desktop, c.settings);
        ProgrammeSound::Block block;
        // Blocks mixed before the change are passed over (the next may be under way); the tenth of
        // a second after them is the check.
        while (tap->tryPop(block)) {
        }
        ASSERT_TRUE(tap->pop(block, 2s));
        std::vector<float> heard;
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(tap->pop(block, 2s));
            heard.insert(heard.end(), block.left.begin(), block.left.end());
        }
        EXPECT_NEAR(vantry::testing::rms(heard, 0, heard.size()), c.expected, 0.1 * tone);
    }

    const auto devices = vantry::platform::listSoundDevices();
    ASSERT_TRUE(devices.serverFound) << devices.error;
    const auto named = [](const auto& list, const std::string& name) {
        return std::any_of(list.begin(), list.end(), [&](auto& d) { return d.name == name; });
    };
    EXPECT_TRUE(named(devices.outputs, "vantry_desk"));
    EXPECT_TRUE(named(devices.inputs, "vantry_desk.monitor"));
}

TEST(ProgrammeSoundNoServer, GivesSilenceAndSaysPictureOnly) {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/vantry-no-server", 1);
    ProgrammeSound sound;
    auto tap = sound.tap();
    ASSERT_TRUE(sound.waitUntilTried(10s));
    EXPECT_FALSE(sound.serverReachable());
    EXPECT_EQ(sound.message(), "No sound server: picture only");
    ProgrammeSound::Block block;
    ASSERT_TRUE(tap->pop(block, 2s)) << "the mix runs without a server";
    EXPECT_EQ(vantry::testing::rms(block.right, 0, block.right.size()), 0.0);
    EXPECT_FALSE(vantry::platform::listSoundDevices().serverFound);
    ::unsetenv("PULSE_SERVER");
}

}  // namespace
