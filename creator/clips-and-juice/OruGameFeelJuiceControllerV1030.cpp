#include "creator/clips-and-juice/OruGameFeelJuiceControllerV1030.h"

#include <QVariantMap>

namespace vantry::creator {

OruGameFeelJuiceControllerV1030::OruGameFeelJuiceControllerV1030(QObject* parent) : QObject(parent) {}

QVariantList OruGameFeelJuiceControllerV1030::popupList() const {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(s_.popups.size()));
    for (const auto& p : s_.popups) {
        QVariantMap m;
        m.insert(QStringLiteral("id"), QString::fromStdString(p.idString()));
        m.insert(QStringLiteral("text"), QString::fromStdString(p.text));
        m.insert(QStringLiteral("colorHex"), static_cast<quint32>(p.colorHex));
        m.insert(QStringLiteral("normalizedX"), p.normalizedX);
        m.insert(QStringLiteral("normalizedY"), p.normalizedY);
        m.insert(QStringLiteral("age"), p.age);
        m.insert(QStringLiteral("lifetime"), p.lifetime);
        m.insert(QStringLiteral("opacity"), p.opacity());
        list.push_back(m);
    }
    return list;
}

void OruGameFeelJuiceControllerV1030::setLastClipStatus(const QString& status) {
    if (status == lastClipStatus_) return;
    lastClipStatus_ = status;
    emit lastClipStatusChanged();
}

void OruGameFeelJuiceControllerV1030::triggerImpact(double intensity, double hitStopSeconds,
                                                    const QVariant& popupText, quint32 popupHex,
                                                    QPointF normalizedPos) {
    const auto before = s_;
    const bool hasPopup = popupText.isValid() && !popupText.isNull();
    s_.triggerImpact(intensity, hitStopSeconds, hasPopup,
                     hasPopup ? popupText.toString().toStdString() : std::string(), popupHex,
                     normalizedPos.x(), normalizedPos.y());
    announce(before, hasPopup);
}

bool OruGameFeelJuiceControllerV1030::step(double dt) {
    const auto before = s_;
    const bool running = s_.step(dt);
    announce(before, !before.popups.empty());
    return running;
}

void OruGameFeelJuiceControllerV1030::announce(const OruJuiceControllerStateV1030& before,
                                               bool popupsTouched) {
    if (before.trauma != s_.trauma) emit traumaChanged();
    if (before.shakeOffsetWidth != s_.shakeOffsetWidth || before.shakeOffsetHeight != s_.shakeOffsetHeight)
        emit shakeOffsetChanged();
    if (before.shakeAngleDeg != s_.shakeAngleDeg) emit shakeAngleDegChanged();
    if (before.hitStopRemaining != s_.hitStopRemaining) emit hitStopRemainingChanged();
    if (before.squashScaleX != s_.squashScaleX) emit squashScaleXChanged();
    if (before.squashScaleY != s_.squashScaleY) emit squashScaleYChanged();
    if (popupsTouched) emit popupsChanged();
    if (before.totalImpactCount != s_.totalImpactCount) emit totalImpactCountChanged();
}

}  // namespace vantry::creator
