// The presenter as one value: what the facecam window shows, where and how it is framed, made
// by the overlay's controller whenever a camera picture arrives or one of these settings
// changes. Whatever else draws the presenter (the program feed, the presenter standing in the
// set) or reports on it takes this value instead of asking the controller property by property.
#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QSizeF>

#include "creator/studio-overlay/CreatorStudioMath.h"
#include "creator/studio-overlay/FacecamTypes.h"

namespace vantry::creator {

struct PresenterSnapshot {
    bool cameraEnabled = false;
    QImage picture;  // the latest camera picture; null until one arrives
    QSizeF offset{-16, -96};
    double scale = 1.0;
    OruFacecamShapeV1045 frameShape = OruFacecamShapeV1045::freeCutout;
    OruFacecamBackgroundModeV1045 backgroundMode = OruFacecamBackgroundModeV1045::cutoutNoBackground;
    bool recording = false;
    bool saving = false;  // a stopped recording's file is being finished
    double micLevel = 0.25;
    // By the border rule (studio::presenterBorder) from the fields above; PresenterSource sets
    // them on every snapshot it publishes.
    QColor borderColor;
    double borderWidth = 0;

    bool isFreeCutout() const;
};

// No background and no frame: the person alone, without border or preview fill.
bool isFreeCutout(OruFacecamBackgroundModeV1045 mode, OruFacecamShapeV1045 shape);
QColor toQColor(const studio::BorderStyle& style);
// Fills in the border from the snapshot's recording flag, meter level, mode and shape.
void applyBorderRule(PresenterSnapshot& snapshot);

// Something that publishes presenter snapshots, on the main thread: the overlay's controller
// (fakes in tests). The border properties are the current snapshot's, for QML.
class PresenterSource : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor borderColor READ borderColor NOTIFY borderChanged)
    Q_PROPERTY(double borderWidth READ borderWidth NOTIFY borderChanged)

  public:
    explicit PresenterSource(QObject* parent = nullptr);

    const PresenterSnapshot& presenterSnapshot() const { return snapshot_; }
    QColor borderColor() const { return snapshot_.borderColor; }
    double borderWidth() const { return snapshot_.borderWidth; }

  signals:
    // A new snapshot: every camera picture and every change of one of its fields.
    void presenterSnapshotChanged();
    void borderChanged();

  protected:
    // Keeps `snapshot` with its border by the rule and announces it (the border only when it
    // changed).
    void publishPresenterSnapshot(PresenterSnapshot snapshot);

  private:
    PresenterSnapshot snapshot_;
};

}  // namespace vantry::creator
