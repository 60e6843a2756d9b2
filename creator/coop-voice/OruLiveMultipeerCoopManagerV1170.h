// The process-wide co-op session of up to four players on the local network: discovery by room code,
// invitations, the local player's state at up to 20 Hz, squadmate avatars, and proximity voice relayed
// between the voice engine and the peers. Published state changes on the main thread only.
#pragma once

#include <QObject>
#include <QStringList>
#include <QVariant>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "creator/coop-voice/CoopSessionRules.h"
#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"
#include "creator/coop-voice/OruLive3DProximityVoiceEngineV1170.h"
#include "platform/p2p/PeerNode.h"

class QSocketNotifier;

namespace vantry::creator {

struct CoopManagerOptions {
    std::string displayName;  // empty: the host name (first 20 characters)
    bool loopback = false;    // discovery and session on 127.0.0.1 only
    std::uint16_t loopbackBasePort = 29810;
    std::shared_ptr<platform::AudioBackend> audio;  // none: Qt Multimedia
    std::optional<std::string> gamePlayerName;      // the signed-in game-service player, if any
    std::function<double()> clock;                  // wall-clock seconds; none: the system clock
};

class OruLiveMultipeerCoopManagerV1170 : public QObject, private platform::p2p::PeerNodeDelegate {
    Q_OBJECT
    Q_PROPERTY(bool isSessionActive READ isSessionActive NOTIFY isSessionActiveChanged)
    Q_PROPERTY(bool isVoiceMicEnabled READ isVoiceMicEnabled WRITE setVoiceMicEnabled NOTIFY
                   isVoiceMicEnabledChanged)
    Q_PROPERTY(QString roomCode READ roomCodeText NOTIFY roomCodeChanged)
    Q_PROPERTY(QStringList connectedPeerNames READ connectedPeerNamesList NOTIFY connectedPeerNamesChanged)
    // Each avatar as a map with one entry per field; worldPos and accentRGB as three-number lists.
    Q_PROPERTY(QVariantList remoteAvatars READ remoteAvatarsList NOTIFY remoteAvatarsChanged)
    // Undefined when no game-service player is signed in.
    Q_PROPERTY(
        QVariant gameCenterPlayerName READ gameCenterPlayerNameValue NOTIFY gameCenterPlayerNameChanged)
    Q_PROPERTY(QString statusText READ statusTextValue NOTIFY statusTextChanged)

  public:
    static constexpr std::string_view serviceType = coop::kServiceType;

    // Created on first use on the calling (main) thread, on the LAN and Qt Multimedia; lives until exit.
    static OruLiveMultipeerCoopManagerV1170& shared();

    explicit OruLiveMultipeerCoopManagerV1170(CoopManagerOptions options = {}, QObject* parent = nullptr);
    ~OruLiveMultipeerCoopManagerV1170() override;

    bool isSessionActive() const { return isSessionActive_; }
    bool isVoiceMicEnabled() const { return isVoiceMicEnabled_; }
    const std::string& roomCode() const { return roomCode_; }
    const std::vector<std::string>& connectedPeerNames() const { return connectedPeerNames_; }
    const std::vector<OruRemoteCoopAvatarV1170>& remoteAvatars() const { return remoteAvatars_; }
    const std::optional<std::string>& gameCenterPlayerName() const { return gameCenterPlayerName_; }
    const std::string& statusText() const { return statusText_; }

    QString roomCodeText() const { return QString::fromStdString(roomCode_); }
    QStringList connectedPeerNamesList() const;
    QVariantList remoteAvatarsList() const;
    QVariant gameCenterPlayerNameValue() const;
    QString statusTextValue() const { return QString::fromStdString(statusText_); }

    // An empty or absent code keeps the current one; a given one is stored upper-cased.
    void startCoopLobby(std::optional<std::string> roomCode = std::nullopt);
    Q_INVOKABLE void startCoopLobby(const QString& roomCode);
    Q_INVOKABLE void stopCoopLobby();
    Q_INVOKABLE void setVoiceMicEnabled(bool enabled);
    Q_INVOKABLE void toggleSoloConvoyBotPreview();
    // Called by the game every frame; sends at most one state packet per 50 ms.
    void broadcastLocalState(Float3 pos, float yaw, bool carryingCore, bool insideMercy,
                             std::int64_t warthogSeat);
    Q_INVOKABLE void broadcastLocalState(double x, double y, double z, double yaw, bool carryingCore,
                                         bool insideMercy, int warthogSeat);

    // The display name peers see.
    const std::string& displayName() const { return displayName_; }
    Float3 localPos() const { return localPos_; }
    Float3 localRight() const { return localRight_; }
    bool localInsideMercy() const { return localInsideMercy_; }
    std::uint32_t sendSeq() const { return limiter_.sendSeq(); }
    OruLive3DProximityVoiceEngineV1170& voiceEngine() { return *voiceEngine_; }
    // The session's ENet port and beacon port (0 when offline); tests reach peers through these.
    std::uint16_t sessionPort() const { return session_ ? session_->sessionPort() : 0; }
    std::uint16_t beaconPort() const { return session_ ? session_->beaconPort() : 0; }
    std::uint64_t sessionInstanceId() const { return session_ ? session_->instanceId() : 0; }
    // Why the last start could not open discovery (the lobby then stays offline); absent otherwise.
    const std::optional<std::string>& discoveryError() const { return discoveryError_; }
    // Handles one received datagram as if a connected peer had sent it.
    void receiveDatagram(const std::string& sender, std::span<const std::uint8_t> bytes);

  signals:
    void isSessionActiveChanged();
    void isVoiceMicEnabledChanged();
    void roomCodeChanged();
    void connectedPeerNamesChanged();
    void remoteAvatarsChanged();
    void gameCenterPlayerNameChanged();
    void statusTextChanged();

  private:
    // Network-thread callbacks: capture arguments and hop to the main thread.
    void peersChanged(std::vector<std::string> connectedNames) override;
    void dataReceived(std::string sender, std::vector<std::uint8_t> bytes) override;
    void peerFound(platform::p2p::FoundPeer peer) override;

    void onPeersChanged(std::vector<std::string> names);
    void onPeerFound(const platform::p2p::FoundPeer& peer);
    void drainCapturedVoice();
    void setStatus(std::string text);
    void setSessionActive(bool active);
    void setMicEnabled(bool enabled);
    void setConnectedNames(std::vector<std::string> names);
    void setAvatars(std::vector<OruRemoteCoopAvatarV1170> avatars);
    bool hasConnectedPeers() const;

    // Voice packets from the capture thread to the main thread without locks or allocation: a ring of
    // fixed slots (one producer, one consumer) and an eventfd that wakes the main thread.
    struct VoiceRing {
        static constexpr std::size_t slotCount = 32;
        static constexpr std::size_t slotBytes = 4096;
        struct Slot {
            std::size_t length = 0;
            std::array<std::uint8_t, slotBytes> bytes{};
        };
        std::array<Slot, slotCount> ring;
        std::atomic<std::size_t> head{0};  // next slot to write (producer)
        std::atomic<std::size_t> tail{0};  // next slot to read (consumer)
        bool push(std::span<const std::uint8_t> packet);
    };

    CoopManagerOptions options_;
    std::string displayName_;
    bool isSessionActive_ = false;
    bool isVoiceMicEnabled_ = false;
    std::string roomCode_{coop::kInitialRoomCode};
    std::vector<std::string> connectedPeerNames_;
    std::vector<OruRemoteCoopAvatarV1170> remoteAvatars_;
    std::optional<std::string> gameCenterPlayerName_;
    std::string statusText_ = coop::offlineStatus();
    std::optional<std::string> discoveryError_;

    std::unique_ptr<platform::p2p::PeerNode> session_;  // the session, advertiser and browser in one node
    std::unique_ptr<OruLive3DProximityVoiceEngineV1170> voiceEngine_;
    coop::StateSendLimiter limiter_;
    Float3 localPos_{0, 1.7f, -14};
    Float3 localRight_{1, 0, 0};
    bool localInsideMercy_ = false;

    std::atomic<std::uint64_t> generation_{0};  // events of an earlier session are dropped
    std::atomic<int> pendingData_{0};
    std::unique_ptr<VoiceRing> voiceRing_;
    int voiceWakeFd_ = -1;
    QSocketNotifier* voiceNotifier_ = nullptr;
};

}  // namespace vantry::creator
