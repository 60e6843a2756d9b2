// The studio's one observable application state: the user's choices, the
// frame-rate report, the status banner, and the slide and export file flows.
// Every property changes on the main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/program-feed/PresenterSettings.h"
#include "app/shots/ShotsModel.h"
#include "app/studio-app/AudioMixController.h"
#include "app/studio-app/FilePanels.h"
#include "app/studio-app/GoLiveController.h"
#include "app/studio-app/StudioRenderer.h"
#include "app/studio-app/WallFeeds.h"
#include "creator/studio-overlay/PresenterSnapshot.h"
#include "studio/StudioCatalogue.h"

namespace vantry::creator {
class CreatorRecorder;
struct RecordingOutcome;
}  // namespace vantry::creator

namespace vantry::platform::wall {
class PdfDeck;
class WallFeed;
struct ScreenShareTarget;
}  // namespace vantry::platform::wall

namespace vantry::app {

// Hands the renderer to the live viewport from QML (`StageViewportView { engine: vm.engine }`).
class StudioEngineHandle : public QObject {
    Q_OBJECT
  public:
    explicit StudioEngineHandle(std::shared_ptr<app::StudioRenderer> renderer, QObject* parent = nullptr)
        : QObject(parent), renderer_(std::move(renderer)) {}
    const std::shared_ptr<app::StudioRenderer>& renderer() const { return renderer_; }

  private:
    std::shared_ptr<app::StudioRenderer> renderer_;
};

class VantryViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* engine READ engineHandle CONSTANT)
    Q_PROPERTY(QString selectedSet READ selectedSetId NOTIFY selectedSetChanged)
    Q_PROPERTY(QString selectedSetTitle READ selectedSetTitle NOTIFY selectedSetChanged)
    Q_PROPERTY(QString proposedExportName READ proposedExportName NOTIFY selectedSetChanged)
    Q_PROPERTY(int cameraAngle READ cameraAngleId WRITE setCameraAngleId NOTIFY cameraAngleChanged)
    Q_PROPERTY(float keyGain READ keyGain WRITE setKeyGain NOTIFY keyGainChanged)
    Q_PROPERTY(float neonGain READ neonGain WRITE setNeonGain NOTIFY neonGainChanged)
    Q_PROPERTY(float ledBrightness READ ledBrightness WRITE setLedBrightness NOTIFY ledBrightnessChanged)
    Q_PROPERTY(bool showVisionPresenter READ showVisionPresenter WRITE setShowVisionPresenter NOTIFY
                   showVisionPresenterChanged)
    // "Refine Edges": steady, picture-fitted presenter edges; kept between runs, on by default.
    Q_PROPERTY(bool refineEdges READ refineEdges WRITE setRefineEdges NOTIFY refineEdgesChanged)
    // "Stand in Set" (true) or "Float" (false): how the presenter shows; kept between runs.
    Q_PROPERTY(bool presenterInSet READ presenterInSet WRITE setPresenterInSet NOTIFY presenterInSetChanged)
    // "Colour Match": the presenter standing in the set is drawn with its white balance and
    // exposure nudged slowly towards the set's key light; kept between runs, on by default.
    Q_PROPERTY(bool colourMatch READ colourMatch WRITE setColourMatch NOTIFY colourMatchChanged)
    // The overlay's controller while "Vision Cutout" is on (null otherwise): its camera pictures
    // go into the set while the presenter stands there.
    Q_PROPERTY(QObject* presenter READ presenter WRITE setPresenter NOTIFY presenterChanged)
    Q_PROPERTY(QString slideName READ slideName NOTIFY slideNameChanged)
    // What the LED wall shows: "builtIn", "picture", "pdf", "video" or "screen".
    Q_PROPERTY(QString wallKind READ wallKindName NOTIFY wallSourceChanged)
    // The deck's page (from 1) and its page count; 1 and 1 for anything but a deck.
    Q_PROPERTY(int slidePage READ slidePage NOTIFY wallSourceChanged)
    Q_PROPERTY(int slideCount READ slideCount NOTIFY wallSourceChanged)
    // A screen or window is being shared onto the wall now.
    Q_PROPERTY(bool screenSharing READ screenSharing NOTIFY wallSourceChanged)
    // Shares go through the desktop portal's dialog (Wayland) rather than the window's list.
    Q_PROPERTY(bool screenShareUsesPortal READ screenShareUsesPortal CONSTANT)
    Q_PROPERTY(double liveFPS READ liveFPS NOTIFY liveFPSChanged)
    Q_PROPERTY(bool isExporting READ isExporting NOTIFY isExportingChanged)
    Q_PROPERTY(double exportProgress READ exportProgress NOTIFY exportProgressChanged)
    Q_PROPERTY(bool hasStatusBanner READ hasStatusBanner NOTIFY statusBannerChanged)
    Q_PROPERTY(QString statusBanner READ statusBannerText NOTIFY statusBannerChanged)
    Q_PROPERTY(QVariantList sets READ sets CONSTANT)
    Q_PROPERTY(QVariantList cameraAngles READ cameraAngles CONSTANT)
    // The GO LIVE section (app::GoLiveController).
    Q_PROPERTY(QObject* goLive READ goLiveHandle CONSTANT)
    // The AUDIO section (app::AudioMixController): the programme sound every output carries.
    Q_PROPERTY(QObject* audio READ audioHandle CONSTANT)
    // The saved shots (shots::ShotsModel), kept in <config home>/vantry-pro/shots.json.
    Q_PROPERTY(QObject* shots READ shotsHandle CONSTANT)

  public:
    // The title the overlay's recordings are named after ("Vantry_Pro_CreatorRec_<seconds>.mp4").
    static constexpr const char* kRecordingTitle = "Vantry Pro";

    // panels may be null (no file flows); it must outlive the view model. The programme sound is
    // platform::ProgrammeSound::shared().
    explicit VantryViewModel(std::shared_ptr<app::StudioRenderer> engine, app::FilePanels* panels = nullptr,
                             QObject* parent = nullptr);
    // The same with the wall's live feeds started through `feeds` (tests: fakes).
    VantryViewModel(std::shared_ptr<app::StudioRenderer> engine, app::FilePanels* panels, WallFeeds feeds,
                    QObject* parent = nullptr);
    // The same over `sound`: the programme sound every output carries, the AUDIO section drives
    // and the wall's video plays into (the window: ProgrammeSound::shared(); tests: one made
    // without devices). Null: the shared one.
    VantryViewModel(std::shared_ptr<app::StudioRenderer> engine, app::FilePanels* panels, WallFeeds feeds,
                    std::shared_ptr<platform::ProgrammeSound> sound, QObject* parent = nullptr);
    // Waits for exports still running; a screen recording still running is stopped and saved
    // (finishScreenRecording(false)).
    ~VantryViewModel() override;
    // The window closed: a screen recording still running is stopped and saved, and waited for
    // (serving the main thread's events meanwhile when serveEvents); standard error says how
    // the save went.
    void finishScreenRecording(bool serveEvents);

    const std::shared_ptr<app::StudioRenderer>& engine() const { return engine_; }
    QObject* engineHandle() const { return engineHandle_; }
    app::GoLiveController& goLive() { return *goLive_; }
    QObject* goLiveHandle() const;
    app::AudioMixController& audio() { return *audio_; }
    QObject* audioHandle() const;
    shots::ShotsModel& shots() { return *shots_; }
    QObject* shotsHandle() const { return shots_; }

    BroadcastStudioSet selectedSet() const { return selectedSet_; }
    QString selectedSetId() const;
    QString selectedSetTitle() const;
    QString proposedExportName() const;

    BroadcastCameraAngle cameraAngle() const { return cameraAngle_; }
    void setCameraAngle(BroadcastCameraAngle angle);
    int cameraAngleId() const { return cameraAngle_.id(); }
    void setCameraAngleId(int id);  // ids outside 0..3 are ignored

    float keyGain() const { return keyGain_; }
    void setKeyGain(float gain);
    float neonGain() const { return neonGain_; }
    void setNeonGain(float gain);
    float ledBrightness() const { return ledBrightness_; }
    void setLedBrightness(float brightness);

    bool showVisionPresenter() const { return showVisionPresenter_; }
    void setShowVisionPresenter(bool show);

    bool refineEdges() const { return refineEdges_; }
    // Saved at once in the window's settings (<config home>/vantry-pro/studio.ini).
    void setRefineEdges(bool refine);
    bool presenterInSet() const { return presenterSettings_.inSet; }
    void setPresenterInSet(bool inSet) { choosePresenterInSet(inSet, true); }
    // remember false: for this run only (the command line), the saved choice stays.
    void choosePresenterInSet(bool inSet, bool remember);
    bool colourMatch() const { return presenterSettings_.colourMatch; }
    void setColourMatch(bool on) { chooseColourMatch(on, true); }
    // remember false: for this run only (the command line), the saved choice stays.
    void chooseColourMatch(bool on, bool remember);
    QObject* presenter() const { return presenter_; }
    void setPresenter(QObject* presenter);
    // The studio's screen recording (CreatorRecorder::shared() unless replaced, for tests, before
    // any overlay exists). Switching Vision Cutout off stops and saves it; the status banner
    // then says how the save went.
    creator::CreatorRecorder& screenRecording() const { return *screenRecording_; }
    void setScreenRecording(std::shared_ptr<creator::CreatorRecorder> recording);
    // Deals with what a killed recording or export left in `folders` (cut back to what plays and
    // kept, or removed; platform/screen-recorder/PartialRecovery.h) and says so in the status
    // banner. Returns what it said, "" when nothing was found.
    QString recoverUnfinishedFiles(const std::vector<std::filesystem::path>& folders);
    // The Videos folder and the recordings' folder: where exports and recordings are written.
    std::vector<std::filesystem::path> videoFolders() const;
    // The presenter's snapshots (camera, picture, recording, border...); null while there is no
    // presenter or it publishes none.
    creator::PresenterSource* presenterSource() const { return presenterSource_.data(); }
    studio::PresenterPlace presenterPlace() const { return presenterSettings_.place; }
    // The facecam window's drag while the presenter stands in the set: (dx, dy) viewport units
    // since the drag began move it across the floor; the end keeps the place.
    Q_INVOKABLE void movePresenterInSet(double dx, double dy, bool finished);
    // The same drag by the pointer itself: pressed at (pressX, pressY), now at (x, y), in a view
    // viewWidth x viewHeight units. The floor point under the press stays under the pointer
    // (the pointer's ray through the live camera meets the floor); where either ray misses the
    // floor, or the renderer has no camera, the drag moves as movePresenterInSet does.
    Q_INVOKABLE void dragPresenterInSet(double pressX, double pressY, double x, double y, double viewWidth,
                                        double viewHeight, bool finished);
    // The facecam's size steps (+-0.18) scale its height.
    Q_INVOKABLE void scalePresenterInSet(double step);

    QString slideName() const { return slideName_; }
    shots::WallKind wallKind() const { return wallKind_; }
    QString wallKindName() const;
    int slidePage() const { return slidePage_; }
    int slideCount() const { return slideCount_; }
    // The file on the wall (a picture, a deck, a video); empty for the built-in wall and shares.
    const std::filesystem::path& wallFile() const { return wallImage_; }
    bool screenSharing() const;
    bool screenShareUsesPortal() const;

    // The deck's pages: a step past either end, or to a page that is not there, does nothing
    // (false); so does anything while the wall shows no deck. `page` counts from 1.
    Q_INVOKABLE bool nextSlide();
    Q_INVOKABLE bool previousSlide();
    Q_INVOKABLE bool firstSlide();
    Q_INVOKABLE bool lastSlide();
    Q_INVOKABLE bool setSlidePage(int page);

    // The windows the person at the window can share: [{id, title}].
    Q_INVOKABLE QVariantList shareableWindows() const;
    // Shares the entire screen (on Wayland: what the portal's dialog picks) or one window until
    // stopScreenShare() or another wall source; false, with the banner saying why, when the
    // share does not start. Only the window's own controls call these.
    Q_INVOKABLE bool shareScreen();
    Q_INVOKABLE bool shareWindow(qulonglong id, const QString& title);
    // Ends a running share and puts the wall's built-in picture back; false when none runs.
    Q_INVOKABLE bool stopScreenShare();
    double liveFPS() const { return liveFPS_; }
    bool isExporting() const { return isExporting_; }
    // 0..1 while an export runs (frames written / frame total).
    double exportProgress() const { return exportProgress_; }

    const std::optional<QString>& statusBanner() const { return statusBanner_; }
    bool hasStatusBanner() const { return statusBanner_.has_value(); }
    QString statusBannerText() const { return statusBanner_.value_or(QString()); }

    static QVariantList sets();          // [{id, title, subtitle}] in catalogue order
    static QVariantList cameraAngles();  // [{id, title}] in catalogue order

    // Writes angle and gains into the renderer; nothing else does.
    Q_INVOKABLE void sync();
    void selectSet(BroadcastStudioSet set);
    Q_INVOKABLE void selectSet(const QString& setId);  // unknown ids are ignored
    Q_INVOKABLE void loadSlidePanel();
    Q_INVOKABLE void exportBroadcastMP4Panel();
    // What the open panel does with the file it returns: puts it on the LED wall and
    // says so, or says that it could not (false), the wall unchanged. A PDF shows its first
    // page, a video (mp4, mov, mkv, webm) plays looped, anything else is loaded as a picture.
    bool mountSlide(const std::filesystem::path& file);
    // The same for a file whose kind was found otherwise (a command line looks into the file):
    // a picture, a deck shown at `page` (from 1, kept within its pages) or a video; false for a
    // kind that is no file (the built-in wall, a share).
    bool mountSlide(const std::filesystem::path& file, shots::WallKind kind, int page);
    // What the save panel does with the file it returns: renders the broadcast clip into it.
    void startExport(const std::filesystem::path& destination);

  signals:
    void selectedSetChanged();
    void cameraAngleChanged();
    void keyGainChanged();
    void neonGainChanged();
    void ledBrightnessChanged();
    void showVisionPresenterChanged();
    void refineEdgesChanged();
    void presenterInSetChanged();
    void colourMatchChanged();
    void presenterChanged();
    // The screen recording started, stopped or finished saving.
    void screenRecordingChanged();
    void slideNameChanged();
    // wallKind, slidePage, slideCount or screenSharing changed.
    void wallSourceChanged();
    void liveFPSChanged();
    void isExportingChanged();
    void exportProgressChanged();
    void statusBannerChanged();

  private slots:
    void pushInSetPresenter();

  private:
    // The picture now as a shot, and a shot put on screen (what could not be applied, or "").
    shots::Shot captureShot() const;
    std::string applyShot(const shots::Shot& shot);
    void savePresenterSettings();
    void setSlideName(const QString& name);
    // The wall's sources (VantryViewModelWall.cpp).
    struct WallOutlet;
    bool mountPicture(const std::filesystem::path& file);
    bool mountDeck(const std::filesystem::path& file, int page);
    bool mountVideo(const std::filesystem::path& file);
    bool startShare(const platform::wall::ScreenShareTarget& target, const std::string& name);
    platform::wall::FeedCallbacks feedCallbacks(const std::shared_ptr<WallOutlet>& outlet,
                                                std::uint64_t generation);
    void feedEnded(std::uint64_t generation, const std::string& message);
    // Closes and drops the live source (deck or feed): nothing of it reaches the wall after.
    void endLiveSource();
    void showBuiltInWall();
    void setWallSource(shots::WallKind kind, int page, int count);
    void showDeckPage();
    std::string applyShotWall(const shots::Shot& shot);
    void setLiveFPS(double fps);
    void setIsExporting(bool exporting);
    void setExportProgress(double progress);
    void setStatusBanner(const QString& message);
    void screenRecordingOutcome(const creator::RecordingOutcome& outcome);
    // An empty failure: the export wrote `bytes`.
    void finishExport(std::int64_t bytes, const std::string& failure);

    std::shared_ptr<app::StudioRenderer> engine_;
    app::FilePanels* panels_;
    StudioEngineHandle* engineHandle_;
    app::GoLiveController* goLive_ = nullptr;   // a child of this object
    app::AudioMixController* audio_ = nullptr;  // a child of this object
    BroadcastStudioSet selectedSet_ = BroadcastStudioSet::manhattanLoft;
    BroadcastCameraAngle cameraAngle_ = BroadcastCameraAngle::wideDesk;
    float keyGain_ = 1.35f;
    float neonGain_ = 1.25f;
    float ledBrightness_ = 1.15f;
    bool showVisionPresenter_ = false;
    bool refineEdges_ = true;
    feed::PresenterSettings presenterSettings_;
    std::filesystem::path settingsFolder_;
    QPointer<QObject> presenter_;
    QPointer<creator::PresenterSource> presenterSource_;  // presenter_, when it publishes snapshots
    std::vector<QMetaObject::Connection> presenterConnections_;
    std::shared_ptr<creator::CreatorRecorder> screenRecording_;
    std::vector<QMetaObject::Connection> screenRecordingConnections_;
    std::optional<studio::PresenterPlace> dragStart_;
    qint64 pushedPictureKey_ = 0;  // the renderer's picture (QImage::cacheKey; 0: none)
    QString slideName_;
    std::filesystem::path wallImage_;  // the file on the wall; empty: the studio's own deck
    WallFeeds feeds_;
    shots::WallKind wallKind_ = shots::WallKind::builtIn;
    int slidePage_ = 1;
    int slideCount_ = 1;
    std::shared_ptr<WallOutlet> outlet_;  // where the live source's pictures go
    std::unique_ptr<platform::wall::PdfDeck> deck_;
    std::unique_ptr<platform::wall::WallFeed> feed_;
    std::uint64_t feedGeneration_ = 0;  // the running feed's; an older feed's end is not heard
    std::uint64_t nextFeedGeneration_ = 1;
    bool startingShare_ = false;          // the portal's dialog may serve events meanwhile
    shots::ShotsModel* shots_ = nullptr;  // a child of this object
    double liveFPS_ = 120.0;
    bool isExporting_ = false;
    double exportProgress_ = 0.0;
    std::optional<QString> statusBanner_;
    std::vector<std::thread> exportThreads_;
};

}  // namespace vantry::app
