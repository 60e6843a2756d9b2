// What the remote control reads and drives of the studio: the window's set, angle, gains, LED
// wall, presenter switches, recording, export, stream and status banner. An adapter over the
// window's view model implements it (ViewModelRemoteStudio.h); the server never sees the model.
#pragma once

#include <QImage>
#include <QObject>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/remote/RemoteProtocol.h"

namespace vantry::remote {

// What the recorder did with a start or a stop.
struct RecordingReply {
    enum class Kind {
        started,         // the recording runs
        alreadyRunning,  // a start while one runs: it goes on unchanged
        saved,           // the recording was finished as `file`
        notRunning,      // a stop while none runs
        starting,        // a stop while the recorder is still starting: refused
        saving,          // the last recording is still being saved: refused
        unavailable,     // nothing can be recorded here (`reason` says why)
        failed,          // it did not start, or did not end as `file` (`reason` says why)
    };
    Kind kind = Kind::notRunning;
    std::string reason;
    std::filesystem::path file;
};

class RemoteStudio : public QObject {
    Q_OBJECT
  public:
    using RecordingAnswer = std::function<void(const RecordingReply& reply)>;

    explicit RemoteStudio(QObject* parent = nullptr) : QObject(parent) {}
    ~RemoteStudio() override = default;

    // The set by its catalogue id ("manhattan-loft"); an unknown id is ignored.
    virtual std::string setId() const = 0;
    virtual std::string setTitle() const = 0;
    virtual void selectSet(const std::string& id) = 0;

    // The camera angle, 0 to 3; others are ignored. Setting it reaches the renderer at once.
    virtual int angle() const = 0;
    virtual std::string angleTitle() const = 0;
    virtual void setAngle(int id) = 0;

    virtual float keyGain() const = 0;
    virtual float neonGain() const = 0;
    virtual float ledBrightness() const = 0;
    // Sets those given, then writes them into the renderer.
    virtual void setGains(std::optional<float> key, std::optional<float> neon, std::optional<float> led) = 0;

    // The LED wall's picture: its name, and loading one as the window's open panel does (false,
    // with the status banner saying why, when it could not be loaded).
    virtual std::string wallImage() const = 0;
    virtual bool mountSlide(const std::filesystem::path& file) = 0;
    // What the wall shows ("builtIn", "picture", "pdf", "video", "screen"), and a deck's page
    // (from 1) of its page count (1 of 1 for anything else).
    virtual std::string wallKind() const = 0;
    virtual int slidePage() const = 0;
    virtual int slideCount() const = 0;
    // A step or a jump in the deck on the wall: false when the wall shows no deck or there is no
    // such page.
    virtual bool stepSlide(bool forward) = 0;
    virtual bool setSlidePage(int page) = 0;
    // Ends a running screen share (false when none runs). A share is only ever started at the
    // window.
    virtual bool stopScreenShare() = 0;

    virtual bool visionCutout() const = 0;
    virtual void setVisionCutout(bool on) = 0;
    virtual bool presenterInSet() const = 0;
    virtual void setPresenterInSet(bool inSet) = 0;

    // Whether something records (the overlay's controller, while Vision Cutout is on) ...
    virtual bool recorderAvailable() const = 0;
    // ... whether the studio is recording (or a recording is still being saved without one) ...
    virtual bool isRecording() const = 0;
    // ... and a start or stop through it: false, with nothing asked, when nothing records;
    // else `answer` (main thread) gets what the recorder really did, at once or later.
    virtual bool requestRecording(bool start, RecordingAnswer answer) = 0;

    virtual bool isExporting() const = 0;
    virtual double exportProgress() const = 0;  // 0..1 while an export runs
    // The file name the window's save panel proposes for the current set.
    virtual std::filesystem::path proposedExportName() const = 0;
    virtual void startExport(const std::filesystem::path& file) = 0;

    // The stream section: its state ("idle", "connecting", "live", "failed", ...), its status
    // line, and the servers the running stream goes to (those not idle).
    virtual bool isLive() const = 0;
    virtual std::string liveState() const = 0;
    virtual std::string liveStatus() const = 0;
    virtual std::vector<LiveDestinationState> liveDestinations() const = 0;
    // The picture each of the section's servers takes ("landscape" or "vertical"), in its order.
    virtual std::vector<std::string> destinationCanvases() const { return {}; }
    virtual void goLive() = 0;
    virtual void endStream() = 0;

    virtual std::string statusBanner() const = 0;  // "" when none is shown

    // The microphone the recorder takes (the overlay's controller's, while Vision Cutout is on):
    // whether there is one, whether it is muted (left out of the recording), and its meter, 0..1.
    // A change of the mute is announced by changed(); the meter is read when wanted.
    virtual bool micAvailable() const { return false; }
    virtual bool micMuted() const { return true; }
    virtual void setMicMuted(bool muted) { (void)muted; }
    virtual double micLevel() const { return 0; }

    // The program picture at width x height, made off the main thread: false when none can be
    // made here; else `answer` (main thread) gets it, a null image when rendering failed.
    using PictureAnswer = std::function<void(const QImage& picture)>;
    virtual bool requestProgramPicture(int width, int height, PictureAnswer answer) {
        (void)width;
        (void)height;
        (void)answer;
        return false;
    }

    // The AUDIO section: each source's mute, gain and device (none where the studio has no
    // programme sound), its mute and gain set as the section sets them (false: no such source
    // here), and the meters of the sources and the mix.
    virtual std::vector<AudioSourceState> audioSources() const { return {}; }
    virtual bool setAudioMute(const std::string& /*source*/, bool /*on*/) { return false; }
    virtual bool setAudioGain(const std::string& /*source*/, double /*db*/) { return false; }
    virtual std::vector<AudioMeter> audioMeters() const { return {}; }

  signals:
    // Something above may have changed.
    void changed();
};

}  // namespace vantry::remote
