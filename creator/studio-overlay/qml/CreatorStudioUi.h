// The creator-studio overlay for QML: native items and helpers under "VantryCreatorNative" and
// the overlay component under "Vantry.CreatorStudio" (CreatorStudioOverlay).
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <functional>

class QQmlEngine;

namespace vantry::creator::qml {

// Registers the native types once per process and adds the import path to the engine.
void registerCreatorStudioQml(QQmlEngine& engine);

// Makes the controller each overlay owns (parented to the overlay, so it dies with it).
using ControllerFactory = std::function<QObject*(QObject* parent)>;
// Replaces how overlays make their controller (tests); an empty factory restores the default.
void setControllerFactory(ControllerFactory factory);

// Runs the overlay's 9:16 clip exports, each on its own background task; `finished` arrives on
// the main thread for every export, in the order they end, and never after this object is gone.
// `outputPath` is where the clip was saved (empty when it was not).
class OverlayClipExporter : public QObject {
    Q_OBJECT
    Q_PROPERTY(int running READ running NOTIFY runningChanged)
  public:
    // Exports one clip; the saved file's path when a receipt came back, else empty. Called on a
    // background thread.
    using ExportFunction = std::function<QString(const QString& gameTitle, const QString& highlightHeadline,
                                                 const QString& statBadge)>;

    explicit OverlayClipExporter(QObject* parent = nullptr);
    OverlayClipExporter(ExportFunction exportFunction, QObject* parent);

    int running() const { return running_; }
    // 3 seconds at 30 frames per second, the exporter's own folder and name, no source image.
    Q_INVOKABLE void start(const QString& gameTitle, const QString& highlightHeadline,
                           const QString& statBadge);

  signals:
    void finished(bool saved, const QString& outputPath);
    void runningChanged();

  private:
    ExportFunction exportFunction_;
    int running_ = 0;
};

// Icons and fonts for the overlay, and the factory of its controller.
class CreatorStudioUi : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString iconFamily READ iconFamily CONSTANT)
    Q_PROPERTY(QString monoFamily READ monoFamily CONSTANT)
    Q_PROPERTY(double shadowMargin READ shadowMargin CONSTANT)
  public:
    explicit CreatorStudioUi(QObject* parent = nullptr) : QObject(parent) {}
    static QString iconFamily();
    // A monospaced family for the clock and the preview label.
    static QString monoFamily();
    // Room the facecam picture item keeps around the window for its shadow.
    static double shadowMargin();
    // min(max(s, 0.55), 2.2); NaN gives 0.55.
    Q_INVOKABLE static double clampScale(double s);
    // Each axis limited to +-max(area width * 0.44, 40) horizontally and +-max(area height * 0.42,
    // 40) vertically; NaN becomes the negative limit.
    Q_INVOKABLE static QSizeF clampOffset(const QSizeF& offset, const QSizeF& area);
    // The facecam window's border by the controller's rule, for stand-in controllers: raw mode
    // ("BG Occlusion") and shape ("Cutout") values; unknown ones count as framed.
    Q_INVOKABLE static QColor presenterBorderColor(bool recording, double micLevel, const QString& mode,
                                                   const QString& shape);
    Q_INVOKABLE static double presenterBorderWidth(bool recording, double micLevel, const QString& mode,
                                                   const QString& shape);
    // The glyph drawing a symbol name ("video.fill"), as a one-character string.
    Q_INVOKABLE static QString icon(const QString& symbol);
    // A path for people: the home folder written as "~".
    Q_INVOKABLE static QString displayPath(const QString& path);
    // A new controller owned by parent, or null when none can be made.
    Q_INVOKABLE QObject* newController(QObject* parent);
    // A clip exporter owned by parent.
    Q_INVOKABLE QObject* newClipExporter(QObject* parent);
};

}  // namespace vantry::creator::qml
