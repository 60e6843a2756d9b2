// The observable state of a four-seat drop-in voice lobby: room code, voice switches,
// the speakers with their activity levels and a one-line connection banner. Without a
// network, pulseSimulatedChatter animates plausible levels from a clock.
//
// Main thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <vector>

#include "creator/lobby/FriendslopLobby.h"

namespace vantry::creator {

class OruFriendslopLobbyControllerV1020 : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString roomCode READ roomCode NOTIFY roomCodeChanged)
    Q_PROPERTY(bool isProximityVoiceEnabled READ isProximityVoiceEnabled WRITE setProximityVoiceEnabled NOTIFY
                   isProximityVoiceEnabledChanged)
    Q_PROPERTY(bool isMicLive READ isMicLive WRITE setMicLive NOTIFY isMicLiveChanged)
    Q_PROPERTY(bool pushToTalkEnabled READ pushToTalkEnabled WRITE setPushToTalkEnabled NOTIFY
                   pushToTalkEnabledChanged)
    // One object per speaker, in order, with the record's field names (worldPosition and
    // worldVelocity as [x, y, z]).
    Q_PROPERTY(QVariantList speakers READ speakersVariant NOTIFY speakersChanged)
    Q_PROPERTY(QString connectionBanner READ connectionBanner NOTIFY connectionBannerChanged)

  public:
    OruFriendslopLobbyControllerV1020(const QString& prefix, const QString& localName,
                                      QObject* parent = nullptr);

    QString roomCode() const { return roomCode_; }
    bool isProximityVoiceEnabled() const { return proximityVoiceEnabled_; }
    bool isMicLive() const { return micLive_; }
    bool pushToTalkEnabled() const { return pushToTalkEnabled_; }
    const std::vector<OruProximityVoiceSpeakerV1020>& speakers() const { return speakers_; }
    QString connectionBanner() const { return connectionBanner_; }

    void setProximityVoiceEnabled(bool enabled);
    void setMicLive(bool live);
    void setPushToTalkEnabled(bool enabled);

    // A new room number under prefix; the banner announces the new room.
    Q_INVOKABLE void regenerateRoomCode(const QString& prefix);
    // Flips the mute of the first speaker with this id; an unknown id changes nothing.
    Q_INVOKABLE void toggleMute(const QString& speakerID);
    // Sets every speaker's activity level for clock time t (seconds).
    Q_INVOKABLE void pulseSimulatedChatter(float t);

    QVariantList speakersVariant() const;

    // A random room number in 1000...9999 from the system's secure random source.
    static int secureRoomNumber();

  signals:
    void roomCodeChanged();
    void isProximityVoiceEnabledChanged();
    void isMicLiveChanged();
    void pushToTalkEnabledChanged();
    void speakersChanged();
    void connectionBannerChanged();

  private:
    QString roomCode_;
    bool proximityVoiceEnabled_ = true;
    bool micLive_ = true;
    bool pushToTalkEnabled_ = false;
    std::vector<OruProximityVoiceSpeakerV1020> speakers_;
    QString connectionBanner_ = QStringLiteral("4P Drop-In Ready · Spatial Voice ON");
};

}  // namespace vantry::creator
