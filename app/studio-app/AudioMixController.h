// The window's AUDIO section over the studio's programme sound: each source's meter (peak and
// RMS in dBFS, refreshed 20 times a second), mute, gain (kMinGainDb..kMaxGainDb) and device,
// the "Voice Filters" switch, and the sound's status line (a device gone, no sound server). The
// choices are kept in <settings folder>/audio.ini and applied on the next start.
//
// Lives on the main thread; the sound's reports are posted there and dropped once it is gone.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/audio/ProgrammeMixer.h"
#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/audio-mix/SoundDevices.h"

namespace vantry::app {

// One source's settings as the section keeps them; an empty device is the default one.
struct AudioSourceChoice {
    audio::SourceSettings settings;
    std::string device;
};
struct AudioChoices {
    std::array<AudioSourceChoice, audio::kMixSourceCount> sources{};
    bool voiceFilters = true;
};
AudioChoices loadAudioChoices(const std::filesystem::path& folder);
// Throws std::filesystem::filesystem_error when the file cannot be written.
void saveAudioChoices(const std::filesystem::path& folder, const AudioChoices& choices);

// "mic", "desktop", "wallVideo" (also their titles, "Mic/Aux" ...); none for anything else.
std::optional<audio::MixSource> mixSourceNamed(std::string_view name);
std::string_view mixSourceId(audio::MixSource source);

class AudioMixController : public QObject {
    Q_OBJECT
    // One map a source, in mix order: id, title, muted, gainDb, device (empty: the default),
    // state ("off", "opening", "live", "missing"), status (why it is missing).
    Q_PROPERTY(QVariantList sources READ sources NOTIFY sourcesChanged)
    // One map a source, then the mix: peakDb, rmsDb.
    Q_PROPERTY(QVariantList meters READ meters NOTIFY metersChanged)
    Q_PROPERTY(bool voiceFilters READ voiceFilters WRITE setVoiceFilters NOTIFY sourcesChanged)
    Q_PROPERTY(QString message READ message NOTIFY sourcesChanged)
    // The choices of the device lists: maps of name and description (inputs: microphones;
    // monitors: what each output plays).
    Q_PROPERTY(QVariantList inputDevices READ inputDevices NOTIFY devicesChanged)
    Q_PROPERTY(QVariantList monitorDevices READ monitorDevices NOTIFY devicesChanged)
    Q_PROPERTY(double minGainDb READ minGainDb CONSTANT)
    Q_PROPERTY(double maxGainDb READ maxGainDb CONSTANT)

  public:
    struct Services {
        // default: ProgrammeSound::shared(). A source with no device chosen opens the sound's
        // defaultDevice (none for a sound made without devices).
        std::shared_ptr<platform::ProgrammeSound> sound;
        std::filesystem::path folder;                         // default: the settings folder
        std::function<platform::SoundDevices()> listDevices;  // default: platform::listSoundDevices
        int meterIntervalMs = 50;
    };

    explicit AudioMixController(Services services, QObject* parent = nullptr);
    ~AudioMixController() override;

    QVariantList sources() const;
    QVariantList meters() const;
    bool voiceFilters() const;
    void setVoiceFilters(bool on);
    QString message() const;
    QVariantList inputDevices() const { return inputs_; }
    QVariantList monitorDevices() const { return monitors_; }
    double minGainDb() const { return audio::kMinGainDb; }
    double maxGainDb() const { return audio::kMaxGainDb; }

    // `source` as mixSourceNamed takes it; false for an unknown one.
    Q_INVOKABLE bool setMuted(const QString& source, bool on);
    Q_INVOKABLE bool setGainDb(const QString& source, double db);
    Q_INVOKABLE bool setDevice(const QString& source, const QString& device);
    // Asks the sound server for its devices again.
    Q_INVOKABLE void refreshDevices();

    AudioChoices choices() const { return choices_; }
    platform::ProgrammeSound& sound() { return *services_.sound; }
    std::shared_ptr<platform::ProgrammeSound> sharedSound() const { return services_.sound; }

  signals:
    void sourcesChanged();
    void metersChanged();
    void devicesChanged();

  private:
    void apply(audio::MixSource source);
    void save();

    Services services_;
    AudioChoices choices_;
    QVariantList inputs_, monitors_;
    QTimer meterTimer_;
    std::shared_ptr<AudioMixController*> link_;  // the sound's reports reach this object through it
};

}  // namespace vantry::app
