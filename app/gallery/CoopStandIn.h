// A co-op session that never leaves this machine: the manager's published properties
// and operations (room code, status lines, microphone switch, convoy bot preview) with
// no peer transport behind them. Hosts bind the sheet's co-op tab to it until the
// networked manager is linked in.
//
// Main thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

namespace vantry::gallery {

class CoopStandIn : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSessionActive READ isSessionActive NOTIFY isSessionActiveChanged)
    Q_PROPERTY(bool isVoiceMicEnabled READ isVoiceMicEnabled WRITE setVoiceMicEnabled NOTIFY
                   isVoiceMicEnabledChanged)
    Q_PROPERTY(QString roomCode READ roomCode NOTIFY roomCodeChanged)
    Q_PROPERTY(QStringList connectedPeerNames READ connectedPeerNames NOTIFY connectedPeerNamesChanged)
    // One object per avatar with the record's field names.
    Q_PROPERTY(QVariantList remoteAvatars READ remoteAvatars NOTIFY remoteAvatarsChanged)
    // The game service's player name, or null when no player is signed in.
    Q_PROPERTY(QVariant gameCenterPlayerName READ gameCenterPlayerName NOTIFY gameCenterPlayerNameChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

  public:
    explicit CoopStandIn(QObject* parent = nullptr);

    static CoopStandIn& shared();

    bool isSessionActive() const { return sessionActive_; }
    bool isVoiceMicEnabled() const { return micEnabled_; }
    QString roomCode() const { return roomCode_; }
    QStringList connectedPeerNames() const { return {}; }
    QVariantList remoteAvatars() const { return avatars_; }
    QVariant gameCenterPlayerName() const { return {}; }
    QString statusText() const { return statusText_; }

    // Starts (or restarts) the session; a non-empty code becomes the room, upper-cased.
    Q_INVOKABLE void startCoopLobby(const QString& roomCode);
    Q_INVOKABLE void stopCoopLobby();
    // On while offline starts a session under the current room first.
    Q_INVOKABLE void setVoiceMicEnabled(bool enabled);
    // Adds the two convoy bots, or removes them when present.
    Q_INVOKABLE void toggleSoloConvoyBotPreview();

  signals:
    void isSessionActiveChanged();
    void isVoiceMicEnabledChanged();
    void roomCodeChanged();
    void connectedPeerNamesChanged();
    void remoteAvatarsChanged();
    void gameCenterPlayerNameChanged();
    void statusTextChanged();

  private:
    void setStatus(const QString& text);
    void setSessionActive(bool active);
    void setMic(bool enabled);

    bool sessionActive_ = false;
    bool micEnabled_ = false;
    QString roomCode_ = QStringLiteral("NYC-6AVE");
    QVariantList avatars_;
    QString statusText_;
};

}  // namespace vantry::gallery
