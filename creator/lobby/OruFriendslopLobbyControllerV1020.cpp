#include "creator/lobby/OruFriendslopLobbyControllerV1020.h"

#include <QRandomGenerator>
#include <QVariantMap>

namespace vantry::creator {
namespace {

QVariantList vector3(const Float3& v) {
    return QVariantList{v.x, v.y, v.z};
}

}  // namespace

int OruFriendslopLobbyControllerV1020::secureRoomNumber() {
    return lobby::roomNumber([] { return QRandomGenerator::system()->generate(); });
}

OruFriendslopLobbyControllerV1020::OruFriendslopLobbyControllerV1020(const QString& prefix,
                                                                     const QString& localName,
                                                                     QObject* parent)
    : QObject(parent),
      roomCode_(QString::fromStdString(lobby::roomCode(prefix.toStdString(), secureRoomNumber()))),
      speakers_(lobby::initialSpeakers(localName.toStdString())) {}

void OruFriendslopLobbyControllerV1020::setProximityVoiceEnabled(bool enabled) {
    if (proximityVoiceEnabled_ == enabled) return;
    proximityVoiceEnabled_ = enabled;
    emit isProximityVoiceEnabledChanged();
    // The ready line names the voice switch; it follows it (a room banner stays as it is).
    static const QString on = QStringLiteral("4P Drop-In Ready · Spatial Voice ON");
    static const QString off = QStringLiteral("4P Drop-In Ready · Spatial Voice OFF");
    if (connectionBanner_ == on || connectionBanner_ == off) {
        connectionBanner_ = enabled ? on : off;
        emit connectionBannerChanged();
    }
}

void OruFriendslopLobbyControllerV1020::setMicLive(bool live) {
    if (micLive_ == live) return;
    micLive_ = live;
    emit isMicLiveChanged();
}

void OruFriendslopLobbyControllerV1020::setPushToTalkEnabled(bool enabled) {
    if (pushToTalkEnabled_ == enabled) return;
    pushToTalkEnabled_ = enabled;
    emit pushToTalkEnabledChanged();
}

void OruFriendslopLobbyControllerV1020::regenerateRoomCode(const QString& prefix) {
    roomCode_ = QString::fromStdString(lobby::roomCode(prefix.toStdString(), secureRoomNumber()));
    emit roomCodeChanged();
    connectionBanner_ = QString::fromStdString(lobby::newRoomBanner(roomCode_.toStdString()));
    emit connectionBannerChanged();
}

void OruFriendslopLobbyControllerV1020::toggleMute(const QString& speakerID) {
    if (lobby::toggleMute(speakers_, speakerID.toStdString())) emit speakersChanged();
}

void OruFriendslopLobbyControllerV1020::pulseSimulatedChatter(float t) {
    if (speakers_.empty()) return;
    lobby::pulseSimulatedChatter(speakers_, proximityVoiceEnabled_, micLive_, t);
    emit speakersChanged();
}

QVariantList OruFriendslopLobbyControllerV1020::speakersVariant() const {
    QVariantList list;
    list.reserve(static_cast<qsizetype>(speakers_.size()));
    for (const auto& s : speakers_) {
        list.push_back(QVariantMap{{"id", QString::fromStdString(s.id)},
                                   {"displayName", QString::fromStdString(s.displayName)},
                                   {"worldPosition", vector3(s.worldPosition)},
                                   {"worldVelocity", vector3(s.worldVelocity)},
                                   {"occludingWalls", s.occludingWalls},
                                   {"isMuted", s.isMuted},
                                   {"isLocalPlayer", s.isLocalPlayer},
                                   {"voiceActivityLevel", s.voiceActivityLevel}});
    }
    return list;
}

}  // namespace vantry::creator
