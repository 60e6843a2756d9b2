// The window's view model as the remote control sees it: its calls as the window makes them, and
// every change of what the server reads (the presenter's recording included, from its snapshots)
// announced as one signal.
#pragma once

#include <QMetaObject>
#include <vector>

#include "app/remote/RemoteStudio.h"

namespace vantry::app {
class VantryViewModel;
}

namespace vantry::remote {

class ViewModelRemoteStudio : public RemoteStudio {
    Q_OBJECT
  public:
    // `vm` must outlive the adapter.
    explicit ViewModelRemoteStudio(app::VantryViewModel& vm, QObject* parent = nullptr);

    std::string setId() const override;
    std::string setTitle() const override;
    void selectSet(const std::string& id) override;
    int angle() const override;
    std::string angleTitle() const override;
    void setAngle(int id) override;
    float keyGain() const override;
    float neonGain() const override;
    float ledBrightness() const override;
    void setGains(std::optional<float> key, std::optional<float> neon, std::optional<float> led) override;
    std::string wallImage() const override;
    std::string wallKind() const override;
    int slidePage() const override;
    int slideCount() const override;
    bool stepSlide(bool forward) override;
    bool setSlidePage(int page) override;
    bool stopScreenShare() override;
    bool mountSlide(const std::filesystem::path& file) override;
    bool visionCutout() const override;
    void setVisionCutout(bool on) override;
    bool presenterInSet() const override;
    void setPresenterInSet(bool inSet) override;
    bool recorderAvailable() const override;
    bool isRecording() const override;
    bool requestRecording(bool start, RecordingAnswer answer) override;
    bool isExporting() const override;
    double exportProgress() const override;
    std::filesystem::path proposedExportName() const override;
    void startExport(const std::filesystem::path& file) override;
    bool isLive() const override;
    std::string liveState() const override;
    std::string liveStatus() const override;
    std::vector<LiveDestinationState> liveDestinations() const override;
    std::vector<std::string> destinationCanvases() const override;
    void goLive() override;
    void endStream() override;
    std::string statusBanner() const override;
    bool micAvailable() const override;
    bool micMuted() const override;
    void setMicMuted(bool muted) override;
    double micLevel() const override;
    bool requestProgramPicture(int width, int height, PictureAnswer answer) override;
    std::vector<AudioSourceState> audioSources() const override;
    bool setAudioMute(const std::string& source, bool on) override;
    bool setAudioGain(const std::string& source, double db) override;
    std::vector<AudioMeter> audioMeters() const override;

  private:
    // Follows the current presenter's snapshots.
    void watchPresenter();

    app::VantryViewModel& vm_;
    QMetaObject::Connection presenterConnection_;
    QMetaObject::Connection micConnection_;
    bool heardRecording_ = false;  // the presenter's recording as last passed on
    bool heardSaving_ = false;
};

}  // namespace vantry::remote
