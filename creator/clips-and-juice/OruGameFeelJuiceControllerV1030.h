// Observable game-feel juice controller for a view layer: shake offset and angle, hit-stop, squash and
// floating popups. Driven from one thread (the main thread for a view).
#pragma once

#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include "creator/clips-and-juice/OruJuicePhysicsKernelV1030.h"

namespace vantry::creator {

class OruGameFeelJuiceControllerV1030 : public QObject {
    Q_OBJECT
    Q_PROPERTY(double trauma READ trauma NOTIFY traumaChanged)
    Q_PROPERTY(QSizeF shakeOffset READ shakeOffset NOTIFY shakeOffsetChanged)
    Q_PROPERTY(double shakeAngleDeg READ shakeAngleDeg NOTIFY shakeAngleDegChanged)
    Q_PROPERTY(double hitStopRemaining READ hitStopRemaining NOTIFY hitStopRemainingChanged)
    Q_PROPERTY(double squashScaleX READ squashScaleX NOTIFY squashScaleXChanged)
    Q_PROPERTY(double squashScaleY READ squashScaleY NOTIFY squashScaleYChanged)
    // Each entry: id, text, colorHex, normalizedX, normalizedY, age, lifetime, opacity.
    Q_PROPERTY(QVariantList popups READ popupList NOTIFY popupsChanged)
    Q_PROPERTY(qint64 totalImpactCount READ totalImpactCount NOTIFY totalImpactCountChanged)
    Q_PROPERTY(
        QString lastClipStatus READ lastClipStatus WRITE setLastClipStatus NOTIFY lastClipStatusChanged)

  public:
    explicit OruGameFeelJuiceControllerV1030(QObject* parent = nullptr);

    double trauma() const { return s_.trauma; }
    QSizeF shakeOffset() const { return {s_.shakeOffsetWidth, s_.shakeOffsetHeight}; }
    double shakeAngleDeg() const { return s_.shakeAngleDeg; }
    double hitStopRemaining() const { return s_.hitStopRemaining; }
    double squashScaleX() const { return s_.squashScaleX; }
    double squashScaleY() const { return s_.squashScaleY; }
    const std::vector<OruJuiceFloatingPopupV1030>& popups() const { return s_.popups; }
    QVariantList popupList() const;
    qint64 totalImpactCount() const { return s_.totalImpactCount; }
    QString lastClipStatus() const { return lastClipStatus_; }
    void setLastClipStatus(const QString& status);
    double elapsed() const { return s_.elapsed; }

    // popupText: a string adds a popup (an empty string too); an invalid QVariant adds none.
    Q_INVOKABLE void triggerImpact(double intensity, double hitStopSeconds,
                                   const QVariant& popupText = QVariant(), quint32 popupHex = 0xFFFFFFFFu,
                                   QPointF normalizedPos = QPointF(0.5, 0.5));
    // Returns whether a hit-stop is still running after this step.
    Q_INVOKABLE bool step(double dt);

  signals:
    void traumaChanged();
    void shakeOffsetChanged();
    void shakeAngleDegChanged();
    void hitStopRemainingChanged();
    void squashScaleXChanged();
    void squashScaleYChanged();
    void popupsChanged();
    void totalImpactCountChanged();
    void lastClipStatusChanged();

  private:
    void announce(const OruJuiceControllerStateV1030& before, bool popupsTouched);

    OruJuiceControllerStateV1030 s_;
    QString lastClipStatus_;
};

}  // namespace vantry::creator
