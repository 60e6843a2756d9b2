// The window's GO LIVE section: up to four servers (URL, stream key, switched on or off), size and
// bit rate (kept between runs), the Go Live / End Stream button with the stream's status line and
// one for each server, and the Virtual Camera switch. Each server takes the landscape or the
// vertical picture; the switched-on servers of one picture take one stream, encoded once, and a
// picture no server takes is never made. The virtual camera takes the landscape picture.
//
// Lives on the main thread; every property changes there and announces itself. The program
// feed renders on its own thread; the stream reports on its sending thread, and those reports
// are posted to the main thread and dropped once this object is gone.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <array>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "app/program-feed/GoLiveSettings.h"
#include "app/program-feed/ProgramFeed.h"
#include "creator/studio-overlay/PresenterSnapshot.h"
#include "platform/stream/LiveStream.h"
#include "studio/ProgramCanvas.h"

namespace vantry::app {

// One live output as the controller uses it (the real one is platform::LiveStream).
class LiveOutput {
  public:
    virtual ~LiveOutput() = default;
    virtual void offerBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride) = 0;
    virtual void stop() = 0;
};

class GoLiveController : public QObject {
    Q_OBJECT
    // The first server's address and key.
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY settingsChanged)
    Q_PROPERTY(QString streamKey READ streamKey WRITE setStreamKey NOTIFY streamKeyChanged)
    Q_PROPERTY(QString size READ size WRITE setSize NOTIFY settingsChanged)
    Q_PROPERTY(double bitRate READ bitRate WRITE setBitRate NOTIFY settingsChanged)
    Q_PROPERTY(QVariantList sizeChoices READ sizeChoices CONSTANT)
    Q_PROPERTY(QVariantList bitRateChoices READ bitRateChoices CONSTANT)
    Q_PROPERTY(QVariantList canvasChoices READ canvasChoices CONSTANT)
    Q_PROPERTY(bool isLive READ isLive NOTIFY stateChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY stateChanged)
    // One map a server: url, streamKey, enabled, canvas ("landscape" or "vertical": the picture it
    // takes), and shownUrl (the url with its secrets, such as an SRT passphrase or a key in its
    // path, as dots).
    Q_PROPERTY(QVariantList destinations READ destinations NOTIFY destinationsChanged)
    // One map a server: state ("idle", "connecting", "live", "stalled", "reconnecting", "failed")
    // and statusLine.
    Q_PROPERTY(QVariantList destinationStates READ destinationStates NOTIFY destinationStatesChanged)
    Q_PROPERTY(bool virtualCameraOn READ virtualCameraOn WRITE setVirtualCameraOn NOTIFY virtualCameraChanged)
    Q_PROPERTY(bool virtualCameraAvailable READ virtualCameraAvailable NOTIFY virtualCameraChanged)
    Q_PROPERTY(QString virtualCameraHint READ virtualCameraHint CONSTANT)
    // The overlay's controller while "Vision Cutout" is on (null otherwise), and the viewport's size.
    // The feed follows its presenter snapshots; an object that publishes none counts as none.
    Q_PROPERTY(QObject* presenter READ presenter WRITE setPresenter NOTIFY presenterChanged)
    Q_PROPERTY(QSizeF viewportSize READ viewportSize WRITE setViewportSize NOTIFY presenterChanged)
    // While a vertical stream runs: true, and its latest picture, small, a few times a second.
    Q_PROPERTY(bool verticalLive READ verticalLive NOTIFY verticalPreviewChanged)
    Q_PROPERTY(QImage verticalPreview READ verticalPreview NOTIFY verticalPreviewChanged)

  public:
    using OpenOutput = std::function<std::unique_ptr<LiveOutput>(const platform::LiveStreamSettings&,
                                                                 platform::LiveStream::StatusCallback)>;
    // One studio frame of `canvas` at width x height (live clock), as feed::ProgramFeed::RenderStudio.
    using RenderCanvas = std::function<SharedFrame(int width, int height, ProgramCanvas canvas)>;
    struct Services {
        RenderCanvas render;

        std::filesystem::path folder;  // settings and key; default feed::goLiveFolder()
        OpenOutput openOutput;         // default: platform::LiveStream
        std::function<std::vector<std::string>()> virtualCameras;  // default: the v4l2loopback devices
        // The sound the stream carries; none: one of the stream's own (platform::LiveStream).
        std::shared_ptr<platform::ProgrammeSound> sound;
    };

    explicit GoLiveController(Services services, QObject* parent = nullptr);
    ~GoLiveController() override;  // ends the stream and waits for the outputs to close

    QString url() const { return QString::fromStdString(settings_.destinations[0].url); }
    void setUrl(const QString& url) { setDestinationUrl(0, url); }
    QString streamKey() const { return keys_[0]; }
    void setStreamKey(const QString& key) { setDestinationKey(0, key); }

    QVariantList destinations() const;
    QVariantList destinationStates() const;
    // Server `index` (0 to 3); a server's switch cannot change while live.
    Q_INVOKABLE void setDestinationUrl(int index, const QString& url);
    Q_INVOKABLE void setDestinationKey(int index, const QString& key);
    Q_INVOKABLE void setDestinationEnabled(int index, bool enabled);
    // "landscape" or "vertical" (or their labels, "Landscape" / "Vertical"); fixed while live.
    Q_INVOKABLE void setDestinationCanvas(int index, const QString& canvas);
    QString size() const;
    void setSize(const QString& size);
    double bitRate() const { return double(settings_.bitRate); }
    void setBitRate(double bitRate);
    QVariantList sizeChoices() const;
    QVariantList bitRateChoices() const;
    QVariantList canvasChoices() const;

    bool isLive() const;
    QString state() const { return state_; }
    QString statusLine() const { return statusLine_; }

    bool virtualCameraOn() const { return camera_ != nullptr; }
    void setVirtualCameraOn(bool on);
    bool virtualCameraAvailable() const;
    QString virtualCameraHint() const;

    QObject* presenter() const { return presenter_.data(); }
    void setPresenter(QObject* presenter);
    QSizeF viewportSize() const { return viewportSize_; }
    bool verticalLive() const;
    QImage verticalPreview() const { return verticalPreview_; }
    // The presenter stands in the set: the studio frames show it, nothing is laid over them.
    void setPresenterInSet(bool inSet);
    void setViewportSize(const QSizeF& size);

    // The user is mending the address or key: a failure line from the last attempt goes away.
    Q_INVOKABLE void clearFailure();
    Q_INVOKABLE void goLive();
    Q_INVOKABLE void endStream();
    Q_INVOKABLE void toggleLive() { isLive() ? endStream() : goLive(); }

    // The feed's current presenter picture description (tests).
    feed::ProgramPresenter currentPresenter() const;

  signals:
    void settingsChanged();
    void streamKeyChanged();
    void destinationsChanged();
    void destinationStatesChanged();
    void stateChanged();
    void virtualCameraChanged();
    void presenterChanged();
    void verticalPreviewChanged();

  private:
    static constexpr std::size_t kCanvases = 2;
    static std::size_t slot(ProgramCanvas canvas) { return canvas == ProgramCanvas::vertical ? 1 : 0; }
    // One picture's stream: its output, its servers in the stream's order, and its last report.
    struct CanvasStream {
        std::shared_ptr<LiveOutput> output;
        std::vector<std::size_t> servers;
        QString state;
        QString line;
        double elapsed = 0;
        double rate = 0;
    };

    feed::ProgramFeed& ensureFeed(ProgramCanvas canvas);
    void releaseFeedsIfIdle();
    void pushPresenter();
    void saveSettings();
    void setState(const QString& state, const QString& line);
    void applyStatus(int generation, ProgramCanvas canvas, const platform::LiveStreamStatus& status);
    // The section's state and line from the running streams (and what failed during the run).
    void updateOverallState();
    void closeStream(ProgramCanvas canvas);
    void showVerticalPreview(int generation, const QImage& picture);
    void setDestinationState(std::size_t index, const QString& state, const QString& line);
    std::vector<std::string> secrets() const;
    std::shared_ptr<LiveOutput> open(const platform::LiveStreamSettings& settings, int generation,
                                     ProgramCanvas canvas);
    void closeLater(std::shared_ptr<LiveOutput> output);

    Services services_;
    feed::GoLiveSettings settings_;
    std::array<QString, feed::kGoLiveDestinations> keys_;
    struct DestinationState {
        QString state = QStringLiteral("idle");
        QString line;
    };
    std::array<DestinationState, feed::kGoLiveDestinations> destinationStates_;
    std::array<CanvasStream, kCanvases> streams_;  // by slot(canvas)
    bool severalStreams_ = false;                  // the run started with both pictures
    QStringList failures_;                         // streams of this run that failed while another went on
    QString state_ = QStringLiteral("idle");
    QString statusLine_;
    std::array<std::unique_ptr<feed::ProgramFeed>, kCanvases> feeds_;  // by slot(canvas)
    std::shared_ptr<LiveOutput> camera_;
    QImage verticalPreview_;
    int generation_ = 0;
    QPointer<creator::PresenterSource> presenter_;
    QSizeF viewportSize_;
    bool presenterInSet_ = false;
    std::vector<QMetaObject::Connection> presenterConnections_;
    std::vector<std::future<void>> closing_;
};

}  // namespace vantry::app
