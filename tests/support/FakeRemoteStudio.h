// A studio for remote-control servers to drive in tests: plain fields, setters that announce the
// change as the view model does, a recorder that answers at once or when told, and a program
// picture of one colour.
#pragma once

#include <QImage>
#include <QTimer>
#include <string>
#include <vector>

#include "app/remote/RemoteStudio.h"
#include "studio/StudioCatalogue.h"

namespace vantry::testing {

class FakeRemoteStudio : public remote::RemoteStudio {
  public:
    std::string setId() const override { return set; }
    std::string setTitle() const override { return "Set " + set; }
    void selectSet(const std::string& id) override {
        set = id;
        emit changed();
    }
    int angle() const override { return angleId; }
    std::string angleTitle() const override {
        const auto a = BroadcastCameraAngle::fromRawValue(angleId);
        return a ? std::string(a->title()) : std::string();
    }
    void setAngle(int id) override {
        angleId = id;
        emit changed();
    }
    float keyGain() const override { return key; }
    float neonGain() const override { return neon; }
    float ledBrightness() const override { return led; }
    void setGains(std::optional<float> k, std::optional<float> n, std::optional<float> l) override {
        if (k) key = *k;
        if (n) neon = *n;
        if (l) led = *l;
        emit changed();
    }
    std::string wallImage() const override { return ""; }
    bool mountSlide(const std::filesystem::path&) override { return false; }
    std::string wallKind() const override { return "builtIn"; }
    int slidePage() const override { return 1; }
    int slideCount() const override { return 1; }
    bool stepSlide(bool) override { return false; }
    bool setSlidePage(int) override { return false; }
    bool stopScreenShare() override { return false; }
    bool visionCutout() const override { return recorder; }
    void setVisionCutout(bool on) override { recorder = on; }
    bool presenterInSet() const override { return false; }
    void setPresenterInSet(bool) override {}
    bool recorderAvailable() const override { return recorder; }
    bool isRecording() const override { return recording; }
    bool requestRecording(bool start, RecordingAnswer answer) override {
        if (!recorder) return false;
        if (holdRecordingAnswers) {
            heldAnswers.push_back([this, start, answer] { answerRecording(start, answer); });
            return true;
        }
        answerRecording(start, answer);
        return true;
    }
    bool isExporting() const override { return false; }
    double exportProgress() const override { return 0; }
    std::filesystem::path proposedExportName() const override { return "clip.mp4"; }
    void startExport(const std::filesystem::path&) override {}
    bool isLive() const override { return live != "idle" && live != "failed"; }
    std::string liveState() const override { return live; }
    std::string liveStatus() const override { return status; }
    std::vector<remote::LiveDestinationState> liveDestinations() const override { return {}; }
    void goLive() override {
        ++goLiveCalls;
        if (url.empty()) {
            live = "failed";
            status = "Enter the server URL";
        } else {
            live = "connecting";
            status = "Connecting…";
        }
        emit changed();
    }
    void endStream() override {
        live = "idle";
        status = "";
        emit changed();
    }
    std::string statusBanner() const override { return ""; }
    bool micAvailable() const override { return recorder; }
    bool micMuted() const override { return !recorder || muted; }
    void setMicMuted(bool m) override {
        muted = m;
        emit changed();
    }
    double micLevel() const override { return 0.5; }
    // The programme mix, when `mix` lists sources (none by default: a studio without one).
    std::vector<remote::AudioSourceState> audioSources() const override { return mix; }
    bool setAudioMute(const std::string& source, bool on) override {
        for (auto& s : mix)
            if (s.source == source) {
                s.muted = on;
                emit changed();
                return true;
            }
        return false;
    }
    bool setAudioGain(const std::string& source, double db) override {
        for (auto& s : mix)
            if (s.source == source) {
                s.gainDb = db;
                emit changed();
                return true;
            }
        return false;
    }
    std::vector<remote::AudioMeter> audioMeters() const override { return meters; }
    bool requestProgramPicture(int width, int height, PictureAnswer answer) override {
        pictureSizes.emplace_back(width, height);
        QImage picture(width, height, QImage::Format_ARGB32);
        picture.fill(Qt::darkCyan);
        // Answered later, as the renderer's thread does.
        QTimer::singleShot(0, this, [answer, picture] { answer(picture); });
        return true;
    }

    // The stream section as the GO LIVE controller moves it.
    void moveStream(const std::string& state) {
        live = state;
        emit changed();
    }
    void releaseRecordingAnswers() {
        auto answers = std::move(heldAnswers);
        heldAnswers.clear();
        for (auto& a : answers) a();
    }

    std::string set = "manhattan-loft";
    int angleId = 0;
    float key = 1.35f, neon = 1.25f, led = 1.15f;
    bool recorder = true;  // Vision Cutout on: its controller records and takes the microphone
    bool recording = false;
    bool muted = false;
    std::vector<remote::AudioSourceState> mix;
    std::vector<remote::AudioMeter> meters;
    std::string live = "idle";
    std::string status;
    std::string url;  // GO LIVE's server URL; empty: going live fails
    int goLiveCalls = 0;
    bool holdRecordingAnswers = false;
    std::vector<std::function<void()>> heldAnswers;
    std::vector<std::pair<int, int>> pictureSizes;

  private:
    void answerRecording(bool start, const RecordingAnswer& answer) {
        using Kind = remote::RecordingReply::Kind;
        if (start == recording) {
            answer({start ? Kind::alreadyRunning : Kind::notRunning, {}, {}});
            return;
        }
        recording = start;
        emit changed();
        answer({start ? Kind::started : Kind::saved, {}, start ? "" : "/clips/rec.mp4"});
    }
};

}  // namespace vantry::testing
