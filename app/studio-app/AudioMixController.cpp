#include "app/studio-app/AudioMixController.h"

#include <QPointer>
#include <QVariantMap>
#include <algorithm>
#include <cstdlib>

#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/files/IniFile.h"
#include "platform/files/SettingsFolder.h"

namespace vantry::app {
namespace {

namespace fs = std::filesystem;
using audio::MixSource;
constexpr const char* kChoicesFile = "audio.ini";

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The device a source opens for a choice: the one the sound was made with when none is chosen
// (the default input or monitor; none for a sound made without devices).
std::string deviceFor(const platform::ProgrammeSound& sound, MixSource source, const std::string& chosen) {
    if (!chosen.empty()) return chosen;
    return sound.defaultDevice(source);
}

const char* stateName(platform::SoundSourceState state) {
    switch (state) {
        case platform::SoundSourceState::off:
            return "off";
        case platform::SoundSourceState::opening:
            return "opening";
        case platform::SoundSourceState::live:
            return "live";
        case platform::SoundSourceState::missing:
            return "missing";
    }
    return "off";
}

}  // namespace

std::string_view mixSourceId(MixSource source) {
    switch (source) {
        case MixSource::mic:
            return "mic";
        case MixSource::desktop:
            return "desktop";
        case MixSource::wallVideo:
            return "wallVideo";
    }
    return "";
}

std::optional<MixSource> mixSourceNamed(std::string_view name) {
    for (int i = 0; i < audio::kMixSourceCount; ++i)
        if (name == mixSourceId(MixSource(i)) || name == audio::mixSourceTitle(MixSource(i)))
            return MixSource(i);
    return std::nullopt;
}

AudioChoices loadAudioChoices(const fs::path& folder) {
    const platform::IniFile ini = platform::IniFile::load(folder / kChoicesFile);
    AudioChoices c;
    for (int i = 0; i < audio::kMixSourceCount; ++i) {
        const std::string section = std::string(mixSourceId(MixSource(i))) + "/";
        AudioSourceChoice& s = c.sources[std::size_t(i)];
        // The wall video's sound is left out until it is switched on.
        s.settings.muted =
            ini.value(section + "muted").value_or(i == int(MixSource::wallVideo) ? "true" : "false") ==
            "true";
        if (auto gain = ini.value(section + "gainDb")) {
            char* end = nullptr;
            const float db = std::strtof(gain->c_str(), &end);
            if (end && *end == '\0' && db == db)
                s.settings.gainDb = std::clamp(db, audio::kMinGainDb, audio::kMaxGainDb);
        }
        s.device = ini.value(section + "device").value_or("");
    }
    c.voiceFilters = ini.value("voiceFilters").value_or("true") != "false";
    return c;
}

void saveAudioChoices(const fs::path& folder, const AudioChoices& c) {
    platform::IniFile ini;
    for (int i = 0; i < audio::kMixSourceCount; ++i) {
        const std::string section = std::string(mixSourceId(MixSource(i))) + "/";
        const AudioSourceChoice& s = c.sources[std::size_t(i)];
        ini.setValue(section + "muted", s.settings.muted ? "true" : "false");
        ini.setValue(section + "gainDb", std::to_string(s.settings.gainDb));
        ini.setValue(section + "device", s.device);
    }
    ini.setValue("voiceFilters", c.voiceFilters ? "true" : "false");
    fs::create_directories(folder);
    ini.save(folder / kChoicesFile);
}

AudioMixController::AudioMixController(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)), link_(std::make_shared<AudioMixController*>(this)) {
    if (!services_.sound) services_.sound = platform::ProgrammeSound::shared();
    if (services_.folder.empty()) services_.folder = platform::settingsFolder();
    if (!services_.listDevices) services_.listDevices = platform::listSoundDevices;
    choices_ = loadAudioChoices(services_.folder);
    for (int i = 0; i < audio::kMixSourceCount; ++i) {
        const MixSource source = MixSource(i);
        // The wall video's delay is the wall's own business: kept as the mix has it.
        audio::SourceSettings s = choices_.sources[std::size_t(i)].settings;
        s.delayMs = services_.sound->mixer().settings(source).delayMs;
        services_.sound->mixer().setSettings(source, s);
        if (source != MixSource::wallVideo)
            services_.sound->setDevice(
                source, deviceFor(*services_.sound, source, choices_.sources[std::size_t(i)].device));
    }
    services_.sound->mixer().setVoiceFilters(choices_.voiceFilters);
    std::weak_ptr<AudioMixController*> weak = link_;
    services_.sound->setStatusHandler([weak] {
        platform::postToMain([weak] {
            if (auto self = weak.lock()) emit(*self)->sourcesChanged();
        });
    });
    meterTimer_.setInterval(services_.meterIntervalMs);
    connect(&meterTimer_, &QTimer::timeout, this, &AudioMixController::metersChanged);
    meterTimer_.start();
}

AudioMixController::~AudioMixController() {
    services_.sound->setStatusHandler(nullptr);
}

QVariantList AudioMixController::sources() const {
    QVariantList list;
    for (int i = 0; i < audio::kMixSourceCount; ++i) {
        const MixSource source = MixSource(i);
        const auto settings = services_.sound->mixer().settings(source);
        const auto status = services_.sound->status(source);
        QVariantMap m;
        m["id"] = qs(mixSourceId(source));
        m["title"] = qs(audio::mixSourceTitle(source));
        m["muted"] = settings.muted;
        m["gainDb"] = double(settings.gainDb);
        m["device"] = QString::fromStdString(choices_.sources[std::size_t(i)].device);
        m["state"] = QString::fromLatin1(source == MixSource::wallVideo ? "live" : stateName(status.state));
        m["status"] = QString::fromStdString(status.message);
        list.push_back(m);
    }
    return list;
}

QVariantList AudioMixController::meters() const {
    QVariantList list;
    const auto add = [&list](const audio::Level& level) {
        QVariantMap m;
        m["peakDb"] = double(level.peakDb);
        m["rmsDb"] = double(level.rmsDb);
        list.push_back(m);
    };
    for (int i = 0; i < audio::kMixSourceCount; ++i) add(services_.sound->mixer().level(MixSource(i)));
    add(services_.sound->mixer().mixLevel());
    return list;
}

bool AudioMixController::voiceFilters() const {
    return services_.sound->mixer().voiceFilters();
}

void AudioMixController::setVoiceFilters(bool on) {
    if (on == voiceFilters()) return;
    services_.sound->mixer().setVoiceFilters(on);
    choices_.voiceFilters = on;
    save();
    emit sourcesChanged();
}

QString AudioMixController::message() const {
    return QString::fromStdString(services_.sound->message());
}

bool AudioMixController::setMuted(const QString& name, bool on) {
    const auto source = mixSourceNamed(name.toStdString());
    if (!source) return false;
    choices_.sources[std::size_t(*source)].settings.muted = on;
    apply(*source);
    return true;
}

bool AudioMixController::setGainDb(const QString& name, double db) {
    const auto source = mixSourceNamed(name.toStdString());
    if (!source || !(db == db)) return false;
    choices_.sources[std::size_t(*source)].settings.gainDb =
        std::clamp(float(db), audio::kMinGainDb, audio::kMaxGainDb);
    apply(*source);
    return true;
}

bool AudioMixController::setDevice(const QString& name, const QString& device) {
    const auto source = mixSourceNamed(name.toStdString());
    if (!source || *source == MixSource::wallVideo) return false;
    choices_.sources[std::size_t(*source)].device = device.toStdString();
    services_.sound->setDevice(*source, deviceFor(*services_.sound, *source, device.toStdString()));
    save();
    emit sourcesChanged();
    return true;
}

void AudioMixController::apply(MixSource source) {
    audio::SourceSettings s = choices_.sources[std::size_t(source)].settings;
    s.delayMs = services_.sound->mixer().settings(source).delayMs;
    if (services_.sound->mixer().settings(source) == s) return;
    services_.sound->mixer().setSettings(source, s);
    save();
    emit sourcesChanged();
}

void AudioMixController::save() {
    try {
        saveAudioChoices(services_.folder, choices_);
    } catch (const fs::filesystem_error&) {
        // The choices hold for this run; the next start takes the defaults.
    }
}

void AudioMixController::refreshDevices() {
    const platform::SoundDevices devices = services_.listDevices();
    inputs_.clear();
    monitors_.clear();
    for (const auto& d : devices.inputs) {
        QVariantMap m;
        m["name"] = QString::fromStdString(d.name);
        m["description"] = QString::fromStdString(d.description.empty() ? d.name : d.description);
        (d.monitorOf.empty() ? inputs_ : monitors_).push_back(m);
    }
    emit devicesChanged();
}

}  // namespace vantry::app
