// The window's AUDIO section over a programme sound of the test's own, with no sound server:
// the choices reach the mix, are kept in the settings folder and come back on the next start.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QCoreApplication>
#include <filesystem>

#include "app/studio-app/AudioMixController.h"
#include "tests/support/SoundWithoutDevices.h"

namespace {

namespace fs = std::filesystem;
using vantry::app::AudioMixController;
using vantry::audio::MixSource;

class AudioMixControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Nothing answers here: the section works the same without sound.
        ::setenv("PULSE_SERVER", "unix:/nonexistent/vantry-audio-section", 1);
        folder = fs::temp_directory_path() / ("vantry-audio-section-" + std::to_string(::getpid()));
        fs::remove_all(folder);
    }
    void TearDown() override {
        ::unsetenv("PULSE_SERVER");
        fs::remove_all(folder);
    }
    AudioMixController::Services services(std::shared_ptr<vantry::platform::ProgrammeSound> sound) {
        AudioMixController::Services s;
        s.sound = std::move(sound);
        s.folder = folder;
        s.listDevices = [] {
            vantry::platform::SoundDevices d;
            d.serverFound = true;
            d.inputs = {{"usb_mic", "USB Microphone", ""},
                        {"speakers.monitor", "Monitor of Speakers", "speakers"}};
            return d;
        };
        return s;
    }
    fs::path folder;
};

TEST_F(AudioMixControllerTest, ChoicesReachTheMixAndAreKeptForTheNextStart) {
    {
        auto sound = std::make_shared<vantry::platform::ProgrammeSound>();
        AudioMixController section(services(sound));
        EXPECT_FALSE(sound->mixer().settings(MixSource::mic).muted);
        EXPECT_TRUE(sound->mixer().settings(MixSource::wallVideo).muted) << "the wall's sound starts muted";
        EXPECT_TRUE(section.setMuted("desktop", true));
        EXPECT_TRUE(section.setGainDb("Mic/Aux", -7.5));
        EXPECT_TRUE(section.setGainDb("mic", 45)) << "clamped, not refused";
        EXPECT_TRUE(section.setDevice("mic", "usb_mic"));
        section.setVoiceFilters(false);
        EXPECT_FALSE(section.setMuted("drums", true));
        EXPECT_FALSE(section.setDevice("wallVideo", "usb_mic"));
        EXPECT_TRUE(sound->mixer().settings(MixSource::desktop).muted);
        EXPECT_EQ(sound->mixer().settings(MixSource::mic).gainDb, vantry::audio::kMaxGainDb);
        EXPECT_FALSE(sound->mixer().voiceFilters());
        EXPECT_EQ(sound->status(MixSource::mic).device, "usb_mic");
        section.refreshDevices();
        ASSERT_EQ(section.inputDevices().size(), 1);
        ASSERT_EQ(section.monitorDevices().size(), 1);
        EXPECT_EQ(section.monitorDevices()[0].toMap()["name"].toString(), "speakers.monitor");
        EXPECT_EQ(section.meters().size(), vantry::audio::kMixSourceCount + 1);
    }
    auto sound = std::make_shared<vantry::platform::ProgrammeSound>();
    AudioMixController again(services(sound));
    EXPECT_TRUE(sound->mixer().settings(MixSource::desktop).muted);
    EXPECT_EQ(sound->mixer().settings(MixSource::mic).gainDb, vantry::audio::kMaxGainDb);
    EXPECT_FALSE(sound->mixer().voiceFilters());
    EXPECT_EQ(sound->status(MixSource::mic).device, "usb_mic");
    const QVariantMap mic = again.sources()[0].toMap();
    EXPECT_EQ(mic["title"].toString(), "Mic/Aux");
    EXPECT_EQ(mic["device"].toString(), "usb_mic");
}

// A source with no device chosen opens the device the sound was made with: the default input
// and monitor for the studio's own sound, none for a sound made without devices.
TEST_F(AudioMixControllerTest, UnchosenSourcesOpenTheSoundsOwnDefaults) {
    {
        auto sound = std::make_shared<vantry::platform::ProgrammeSound>();
        AudioMixController section(services(sound));
        EXPECT_EQ(sound->status(MixSource::mic).device, "default");
        EXPECT_EQ(sound->status(MixSource::desktop).device, "@DEFAULT_MONITOR@");
    }
    auto sound = vantry::testing::soundWithoutDevices();
    AudioMixController section(services(sound));
    EXPECT_EQ(sound->status(MixSource::mic).state, vantry::platform::SoundSourceState::off);
    EXPECT_EQ(sound->status(MixSource::desktop).state, vantry::platform::SoundSourceState::off);
    EXPECT_EQ(section.sources()[0].toMap()["state"].toString(), "off");
    EXPECT_TRUE(section.setDevice("mic", "usb_mic"));
    EXPECT_EQ(sound->status(MixSource::mic).device, "usb_mic") << "a chosen device is opened";
    EXPECT_TRUE(section.setDevice("mic", ""));
    EXPECT_EQ(sound->status(MixSource::mic).state, vantry::platform::SoundSourceState::off)
        << "back to the sound's own default: none";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
