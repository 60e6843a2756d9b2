#include "app/gallery/CoopStandIn.h"

#include <QVariantMap>

namespace vantry::gallery {
namespace {

const QString kOffline = QStringLiteral("Offline · Ready for LAN / Wi-Fi 4P Convoy");
const QString kBotPrefix = QStringLiteral("convoy_sim_");

QVariantMap bot(const char* id, const char* callsign, QVariantList pos, double yaw, bool core, int seat,
                QVariantList accent) {
    return QVariantMap{{"id", QString::fromUtf8(id)},
                       {"callsign", QString::fromUtf8(callsign)},
                       {"worldPos", pos},
                       {"yaw", yaw},
                       {"carryingConEdCore", core},
                       {"inWarthogSeat", seat},
                       {"isIndoorsMercy", false},
                       {"voiceRMS", 0.0},
                       {"accentRGB", accent}};
}

}  // namespace

CoopStandIn::CoopStandIn(QObject* parent) : QObject(parent), statusText_(kOffline) {}

CoopStandIn& CoopStandIn::shared() {
    static auto* session = new CoopStandIn();
    return *session;
}

void CoopStandIn::startCoopLobby(const QString& roomCode) {
    if (!roomCode.isEmpty() && roomCode.toUpper() != roomCode_) {
        roomCode_ = roomCode.toUpper();
        emit roomCodeChanged();
    }
    stopCoopLobby();
    setSessionActive(true);
    setStatus(QStringLiteral("Broadcasting Room %1 · Searching Mac & iPad Squadmates…").arg(roomCode_));
}

void CoopStandIn::stopCoopLobby() {
    setMic(false);
    setSessionActive(false);
    if (!avatars_.isEmpty()) {
        avatars_.clear();
        emit remoteAvatarsChanged();
    }
    setStatus(kOffline);
}

void CoopStandIn::setVoiceMicEnabled(bool enabled) {
    if (enabled) {
        if (!sessionActive_) startCoopLobby(QString());
        setMic(true);
        setStatus(QStringLiteral("3D Proximity Voice LIVE · Room %1 (0 peers)").arg(roomCode_));
    } else {
        setMic(false);
        setStatus(sessionActive_ ? QStringLiteral("Room %1 Active · Mic Muted").arg(roomCode_)
                                 : QStringLiteral("Offline"));
    }
}

void CoopStandIn::toggleSoloConvoyBotPreview() {
    QVariantList kept;
    for (const QVariant& avatar : avatars_) {
        if (!avatar.toMap().value(QStringLiteral("id")).toString().startsWith(kBotPrefix))
            kept.push_back(avatar);
    }
    if (kept.size() != avatars_.size()) {
        avatars_ = kept;
    } else {
        avatars_.push_back(
            bot("convoy_sim_gunner", "VIPER-M134", {3.4, 0.0, -28.0}, 0.25, false, 1, {0.18, 0.92, 1.0}));
        avatars_.push_back(
            bot("convoy_sim_hauler", "ONYX-CORE", {-3.8, 0.0, -32.0}, -0.18, true, -1, {1.0, 0.72, 0.16}));
    }
    emit remoteAvatarsChanged();
}

void CoopStandIn::setStatus(const QString& text) {
    if (statusText_ == text) return;
    statusText_ = text;
    emit statusTextChanged();
}

void CoopStandIn::setSessionActive(bool active) {
    if (sessionActive_ == active) return;
    sessionActive_ = active;
    emit isSessionActiveChanged();
}

void CoopStandIn::setMic(bool enabled) {
    if (micEnabled_ == enabled) return;
    micEnabled_ = enabled;
    emit isVoiceMicEnabledChanged();
}

}  // namespace vantry::gallery
