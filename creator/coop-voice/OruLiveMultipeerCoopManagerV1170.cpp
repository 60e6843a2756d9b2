#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QSysInfo>
#include <chrono>
#include <cstring>

#include "common/Utf8.h"
#include "platform/audio-output/QtAudioBackend.h"

namespace vantry::creator {

namespace {

constexpr int kMaxPendingData = 256;  // received datagrams waiting for the main thread

double systemSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QVariantList vectorList(Float3 v) {
    return {double(v.x), double(v.y), double(v.z)};
}

// Peer names come from the network: broken UTF-8 is repaired so that every text we show is valid.
std::string cleanName(const std::string& name) {
    return utf8::prefixCharacters(name, 96);
}

}  // namespace

bool OruLiveMultipeerCoopManagerV1170::VoiceRing::push(std::span<const std::uint8_t> packet) {
    if (packet.size() > slotBytes) return false;
    const std::size_t h = head.load(std::memory_order_relaxed);
    if (h - tail.load(std::memory_order_acquire) >= slotCount) return false;  // full: this packet is lost
    Slot& slot = ring[h % slotCount];
    std::memcpy(slot.bytes.data(), packet.data(), packet.size());
    slot.length = packet.size();
    head.store(h + 1, std::memory_order_release);
    return true;
}

OruLiveMultipeerCoopManagerV1170& OruLiveMultipeerCoopManagerV1170::shared() {
    // Linux has no signed-in game-service player, so the name stays absent.
    static auto* instance = new OruLiveMultipeerCoopManagerV1170(CoopManagerOptions{});
    return *instance;
}

OruLiveMultipeerCoopManagerV1170::OruLiveMultipeerCoopManagerV1170(CoopManagerOptions options,
                                                                   QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    displayName_ = coop::displayNameFor(
        options_.displayName.empty() ? QSysInfo::machineHostName().toStdString() : options_.displayName);
    if (!options_.clock) options_.clock = systemSeconds;
    if (!options_.audio) options_.audio = std::make_shared<platform::QtAudioBackend>();
    voiceEngine_ = std::make_unique<OruLive3DProximityVoiceEngineV1170>(options_.audio);
    voiceRing_ = std::make_unique<VoiceRing>();
    voiceWakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (voiceWakeFd_ >= 0) {
        voiceNotifier_ = new QSocketNotifier(voiceWakeFd_, QSocketNotifier::Read, this);
        connect(voiceNotifier_, &QSocketNotifier::activated, this, [this] { drainCapturedVoice(); });
    }
    if (options_.gamePlayerName) gameCenterPlayerName_ = options_.gamePlayerName;
}

OruLiveMultipeerCoopManagerV1170::~OruLiveMultipeerCoopManagerV1170() {
    if (session_) session_->disconnect();
    session_.reset();
    voiceEngine_.reset();  // no capture after this
    if (voiceNotifier_) voiceNotifier_->setEnabled(false);
    if (voiceWakeFd_ >= 0) ::close(voiceWakeFd_);
}

QStringList OruLiveMultipeerCoopManagerV1170::connectedPeerNamesList() const {
    QStringList out;
    for (const auto& n : connectedPeerNames_) out << QString::fromStdString(n);
    return out;
}

QVariantList OruLiveMultipeerCoopManagerV1170::remoteAvatarsList() const {
    QVariantList out;
    for (const auto& a : remoteAvatars_) {
        QVariantMap m;
        m.insert(QStringLiteral("id"), QString::fromStdString(a.id));
        m.insert(QStringLiteral("callsign"), QString::fromStdString(a.callsign));
        m.insert(QStringLiteral("worldPos"), vectorList(a.worldPos));
        m.insert(QStringLiteral("yaw"), double(a.yaw));
        m.insert(QStringLiteral("carryingConEdCore"), a.carryingConEdCore);
        m.insert(QStringLiteral("inWarthogSeat"), qlonglong(a.inWarthogSeat));
        m.insert(QStringLiteral("isIndoorsMercy"), a.isIndoorsMercy);
        m.insert(QStringLiteral("voiceRMS"), double(a.voiceRMS));
        m.insert(QStringLiteral("accentRGB"), vectorList(a.accentRGB));
        out << m;
    }
    return out;
}

QVariant OruLiveMultipeerCoopManagerV1170::gameCenterPlayerNameValue() const {
    return gameCenterPlayerName_ ? QVariant(QString::fromStdString(*gameCenterPlayerName_)) : QVariant();
}

void OruLiveMultipeerCoopManagerV1170::setStatus(std::string text) {
    if (text == statusText_) return;
    statusText_ = std::move(text);
    emit statusTextChanged();
}

void OruLiveMultipeerCoopManagerV1170::setSessionActive(bool active) {
    if (active == isSessionActive_) return;
    isSessionActive_ = active;
    emit isSessionActiveChanged();
}

void OruLiveMultipeerCoopManagerV1170::setMicEnabled(bool enabled) {
    if (enabled == isVoiceMicEnabled_) return;
    isVoiceMicEnabled_ = enabled;
    emit isVoiceMicEnabledChanged();
}

void OruLiveMultipeerCoopManagerV1170::setConnectedNames(std::vector<std::string> names) {
    if (names == connectedPeerNames_) return;
    connectedPeerNames_ = std::move(names);
    emit connectedPeerNamesChanged();
}

void OruLiveMultipeerCoopManagerV1170::setAvatars(std::vector<OruRemoteCoopAvatarV1170> avatars) {
    if (avatars == remoteAvatars_) return;
    remoteAvatars_ = std::move(avatars);
    emit remoteAvatarsChanged();
}

bool OruLiveMultipeerCoopManagerV1170::hasConnectedPeers() const {
    return session_ && !session_->connectedPeerNames().empty();
}

void OruLiveMultipeerCoopManagerV1170::startCoopLobby(const QString& roomCode) {
    startCoopLobby(roomCode.isEmpty() ? std::nullopt : std::optional<std::string>(roomCode.toStdString()));
}

void OruLiveMultipeerCoopManagerV1170::startCoopLobby(std::optional<std::string> roomCode) {
    if (roomCode && !roomCode->empty()) {
        // Texts travel in beacons: keep the code printable and short enough to fit one.
        std::string code = coop::upperRoomCode(utf8::prefixCharacters(*roomCode, 16));
        std::erase_if(code, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
        if (!code.empty() && code != roomCode_) {
            roomCode_ = std::move(code);
            emit roomCodeChanged();
        }
    }
    stopCoopLobby();
    ++generation_;
    platform::p2p::PeerNodeOptions node;
    node.serviceType = std::string(coop::kServiceType);
    node.displayName = displayName_;
    node.room = roomCode_;
    node.loopback = options_.loopback;
    node.loopbackBasePort = options_.loopbackBasePort;
    node.maxRemotePeers = coop::kMaxRemotePeers;
    std::string error;
    session_ = platform::p2p::PeerNode::create(std::move(node), this, &error);
    if (!session_) {
        // Nobody could ever find this lobby: say so instead of pretending to search.
        discoveryError_ = error.empty() ? std::string("the network is unavailable") : error;
        setStatus(coop::discoveryFailedStatus(roomCode_, *discoveryError_));
        return;
    }
    session_->startAdvertising(roomCode_);
    session_->startBrowsing();
    setSessionActive(true);
    setStatus(coop::broadcastingStatus(roomCode_));

    VoiceRing* ring = voiceRing_.get();
    const int wakeFd = voiceWakeFd_;
    voiceEngine_->setOnEncodedVoicePacket([ring, wakeFd](std::span<const std::uint8_t> packet, float) {
        // Capture thread: copy into a free slot and wake the main thread; no lock, no allocation.
        if (!ring->push(packet) || wakeFd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
    });
}

void OruLiveMultipeerCoopManagerV1170::drainCapturedVoice() {
    std::uint64_t count;
    while (::read(voiceWakeFd_, &count, sizeof count) > 0) {
    }
    VoiceRing& ring = *voiceRing_;
    std::size_t t = ring.tail.load(std::memory_order_relaxed);
    const std::size_t h = ring.head.load(std::memory_order_acquire);
    for (; t != h; ++t) {
        const auto& slot = ring.ring[t % VoiceRing::slotCount];
        if (session_ && hasConnectedPeers())
            session_->sendToAll(std::span<const std::uint8_t>(slot.bytes.data(), slot.length),
                                platform::p2p::PeerChannel::voice);
    }
    ring.tail.store(t, std::memory_order_release);
}

void OruLiveMultipeerCoopManagerV1170::stopCoopLobby() {
    if (session_) {
        session_->stopAdvertising();
        session_->stopBrowsing();
        session_->disconnect();
        session_.reset();
    }
    ++generation_;
    discoveryError_.reset();
    voiceEngine_->stop();
    setMicEnabled(false);
    setSessionActive(false);
    setConnectedNames({});
    setAvatars({});
    setStatus(coop::offlineStatus());
}

void OruLiveMultipeerCoopManagerV1170::setVoiceMicEnabled(bool enabled) {
    if (enabled) {
        if (!isSessionActive_) startCoopLobby(std::nullopt);
        if (!isSessionActive_) return;  // no session to talk in; the status says why
        voiceEngine_->startLiveCaptureAndPlayback();
        setMicEnabled(true);
        setStatus(coop::micLiveStatus(roomCode_, connectedPeerNames_.size()));
    } else {
        setMicEnabled(false);
        voiceEngine_->stop();
        setStatus(coop::micMutedStatus(roomCode_, isSessionActive_));
    }
}

void OruLiveMultipeerCoopManagerV1170::toggleSoloConvoyBotPreview() {
    auto avatars = remoteAvatars_;
    coop::toggleBots(avatars);
    setAvatars(std::move(avatars));
}

void OruLiveMultipeerCoopManagerV1170::broadcastLocalState(double x, double y, double z, double yaw,
                                                           bool carryingCore, bool insideMercy,
                                                           int warthogSeat) {
    broadcastLocalState(Float3{float(x), float(y), float(z)}, float(yaw), carryingCore, insideMercy,
                        warthogSeat);
}

void OruLiveMultipeerCoopManagerV1170::broadcastLocalState(Float3 pos, float yaw, bool carryingCore,
                                                           bool insideMercy, std::int64_t warthogSeat) {
    localPos_ = pos;
    localRight_ = coop::rightVectorForYaw(yaw);
    localInsideMercy_ = insideMercy;
    if (!isSessionActive_ || !hasConnectedPeers()) return;
    if (!limiter_.allow(options_.clock())) return;
    const OruCoopPlayerStatePacketV1170 packet(
        limiter_.nextSeq(), pos, yaw, isVoiceMicEnabled_ ? coop::kMicVoiceRMS : 0.0f, carryingCore,
        insideMercy, warthogSeat, gameCenterPlayerName_.value_or(displayName_));
    session_->sendToAll(packet.encodeBinary(), platform::p2p::PeerChannel::state);
}

void OruLiveMultipeerCoopManagerV1170::peersChanged(std::vector<std::string> connectedNames) {
    const std::uint64_t generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, names = std::move(connectedNames)]() mutable {
            if (generation == generation_) onPeersChanged(std::move(names));
        },
        Qt::QueuedConnection);
}

void OruLiveMultipeerCoopManagerV1170::dataReceived(std::string sender, std::vector<std::uint8_t> bytes) {
    // A flood waits for the main thread in bounded numbers; the rest is dropped here.
    if (pendingData_.fetch_add(1) >= kMaxPendingData) {
        pendingData_.fetch_sub(1);
        return;
    }
    const std::uint64_t generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, sender = std::move(sender), bytes = std::move(bytes)] {
            pendingData_.fetch_sub(1);
            if (generation == generation_ && session_) receiveDatagram(sender, bytes);
        },
        Qt::QueuedConnection);
}

void OruLiveMultipeerCoopManagerV1170::peerFound(platform::p2p::FoundPeer peer) {
    const std::uint64_t generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, peer = std::move(peer)] {
            if (generation == generation_) onPeerFound(peer);
        },
        Qt::QueuedConnection);
}

void OruLiveMultipeerCoopManagerV1170::onPeersChanged(std::vector<std::string> names) {
    for (auto& n : names) n = cleanName(n);
    auto avatars = remoteAvatars_;
    coop::pruneAvatars(avatars, names);
    setConnectedNames(std::move(names));
    setAvatars(std::move(avatars));
    setStatus(coop::peersChangedStatus(roomCode_, connectedPeerNames_));
}

void OruLiveMultipeerCoopManagerV1170::onPeerFound(const platform::p2p::FoundPeer& peer) {
    if (!session_) return;
    // A beacon must name our room; one without a room belongs to no lobby of ours.
    if (!peer.room || *peer.room != roomCode_) return;
    if (session_->connectedPeerNames().size() > 2) return;  // at most 3 remote peers: 4 players
    session_->invite(peer.instanceId, coop::kInviteTimeoutSec);
}

void OruLiveMultipeerCoopManagerV1170::receiveDatagram(const std::string& rawSender,
                                                       std::span<const std::uint8_t> bytes) {
    const std::string sender = cleanName(rawSender);
    auto route = coop::routeDatagram(bytes, sender, remoteAvatars_, localPos_, localInsideMercy_);
    if (route.avatar) {
        auto avatars = remoteAvatars_;
        coop::applyAvatarUpdate(avatars, std::move(*route.avatar));
        setAvatars(std::move(avatars));
    } else if (route.voice) {
        voiceEngine_->ingestRemoteVoicePacket(bytes, localPos_, localRight_, route.voice->speakerPos,
                                              route.voice->walls);
    }
}

}  // namespace vantry::creator
