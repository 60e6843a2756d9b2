#include "creator/studio-overlay/PresenterSnapshot.h"

#include <utility>

namespace vantry::creator {

bool isFreeCutout(OruFacecamBackgroundModeV1045 mode, OruFacecamShapeV1045 shape) {
    return mode == OruFacecamBackgroundModeV1045::cutoutNoBackground &&
           shape == OruFacecamShapeV1045::freeCutout;
}

bool PresenterSnapshot::isFreeCutout() const {
    return creator::isFreeCutout(backgroundMode, frameShape);
}

QColor toQColor(const studio::BorderStyle& style) {
    QColor color(style.red, style.green, style.blue);
    color.setAlphaF(float(style.alpha));
    return color;
}

void applyBorderRule(PresenterSnapshot& snapshot) {
    const studio::BorderStyle style =
        studio::presenterBorder(snapshot.recording, snapshot.micLevel, snapshot.isFreeCutout());
    snapshot.borderColor = toQColor(style);
    snapshot.borderWidth = style.width;
}

PresenterSource::PresenterSource(QObject* parent) : QObject(parent) {
    applyBorderRule(snapshot_);
}

void PresenterSource::publishPresenterSnapshot(PresenterSnapshot snapshot) {
    applyBorderRule(snapshot);
    const bool borderChanges =
        snapshot.borderColor != snapshot_.borderColor || snapshot.borderWidth != snapshot_.borderWidth;
    snapshot_ = std::move(snapshot);
    emit presenterSnapshotChanged();
    if (borderChanges) emit borderChanged();
}

}  // namespace vantry::creator
