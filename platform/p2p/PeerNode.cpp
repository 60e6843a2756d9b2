#include "platform/p2p/PeerNode.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

#include "platform/p2p/Announcement.h"

namespace vantry::platform::p2p {

namespace {

constexpr std::uint8_t kHelloChannel = 2;
constexpr std::size_t kChannelCount = 3;
constexpr std::size_t kHostPeerSlots = 8;  // connected peers plus a few links being set up or refused
constexpr std::size_t kMaxFoundPeers = 64;
constexpr double kFoundExpirySec = 10.0;
constexpr double kFoundRepeatSec = 3.0;
constexpr int kMaxBeaconsPerTurn = 256;
constexpr int kMaxEventsPerTurn = 512;
constexpr int kPollMillis = 50;

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool isLoopbackHost(std::uint32_t hostNetworkOrder) {
    return (ntohl(hostNetworkOrder) >> 24) == 127;
}

void initialiseENetOnce() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = enet_initialize() == 0;
        if (ok) std::atexit(enet_deinitialize);
    });
}

std::uint64_t randomInstanceId() {
    std::random_device rd;
    std::uint64_t id = 0;
    while (id == 0 || id == UINT64_MAX) id = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
    return id;
}

struct LinkInfo {
    std::uint64_t instanceId = 0;  // known from the found table (outgoing) or the hello
    std::string name;
    bool outgoing = false;
    bool established = false;  // ENet connected
    bool helloReceived = false;
    double since = 0;
};

struct FoundEntry {
    FoundPeer peer;
    ENetAddress address{};
    double lastSeen = 0;
    double lastReported = -1e9;
};

class ENetPeerNode final : public PeerNode {
  public:
    ENetPeerNode(PeerNodeOptions options, PeerNodeDelegate* delegate)
        : options_(std::move(options)), delegate_(delegate), instanceId_(randomInstanceId()) {}

    ~ENetPeerNode() override {
        disconnect();
        if (host_) enet_host_destroy(host_);
        if (beaconFd_ >= 0) ::close(beaconFd_);
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    // Empty on success, otherwise what could not be set up.
    std::string open() {
        initialiseENetOnce();
        ENetAddress address{};
        address.host = options_.loopback ? htonl(INADDR_LOOPBACK) : ENET_HOST_ANY;
        address.port = 0;
        host_ = enet_host_create(&address, kHostPeerSlots, kChannelCount, 0, 0);
        if (!host_) return "cannot open the session socket";
        host_->maximumPacketSize = maxPacketBytes;
        host_->maximumWaitingData = 4 * maxPacketBytes;
        ENetAddress bound{};
        if (enet_socket_get_address(host_->socket, &bound) != 0) return "cannot read the session port";
        sessionPort_ = bound.port;
        wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd_ < 0) return std::string("cannot create the wake-up event: ") + std::strerror(errno);
        if (std::string error = openBeaconSocket(); !error.empty()) return error;
        running_ = true;
        thread_ = std::thread([this] { run(); });
        return {};
    }

    void startAdvertising(std::optional<std::string> room) override {
        std::lock_guard<std::mutex> guard(lock_);
        Announcement a{sessionPort_, instanceId_, options_.serviceType, std::move(room),
                       options_.displayName};
        beacon_ = encodeAnnouncement(a, AnnouncementKind::beacon);
        nextBeacon_ = 0;  // at once
        wake();
    }
    void stopAdvertising() override {
        std::lock_guard<std::mutex> guard(lock_);
        beacon_.clear();
    }
    void startBrowsing() override {
        std::lock_guard<std::mutex> guard(lock_);
        browsing_ = true;
    }
    void stopBrowsing() override {
        std::lock_guard<std::mutex> guard(lock_);
        browsing_ = false;
    }

    bool invite(std::uint64_t instanceId, double timeoutSec) override {
        std::lock_guard<std::mutex> guard(lock_);
        if (!host_ || !running_ || instanceId <= instanceId_) return false;
        const auto found = found_.find(instanceId);
        if (found == found_.end()) return false;
        for (const auto& [peer, link] : links_)
            if (link.instanceId == instanceId) return false;  // already linked or being linked
        if (options_.loopback && !isLoopbackHost(found->second.address.host)) return false;
        ENetPeer* peer =
            enet_host_connect(host_, &found->second.address, kChannelCount, roomHash(options_.room));
        if (!peer) return false;
        const auto timeoutMs = static_cast<enet_uint32>(std::clamp(timeoutSec, 1.0, 60.0) * 1000);
        enet_peer_timeout(peer, 32, std::min<enet_uint32>(3000, timeoutMs), timeoutMs);
        links_[peer] = LinkInfo{instanceId, found->second.peer.displayName, true, false, false, linkNow()};
        enet_host_flush(host_);
        return true;
    }

    bool sendToAll(std::span<const std::uint8_t> bytes, PeerChannel channel) override {
        if (bytes.empty() || bytes.size() > maxPacketBytes) return false;
        std::lock_guard<std::mutex> guard(lock_);
        if (!host_ || !running_) return false;
        ENetPacket* packet =
            enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_UNRELIABLE_FRAGMENT);
        if (!packet) return false;
        bool sent = false;
        for (auto& [peer, link] : links_)
            if (isConnected(link) && enet_peer_send(peer, static_cast<enet_uint8>(channel), packet) == 0)
                sent = true;
        if (packet->referenceCount == 0) enet_packet_destroy(packet);
        if (sent) enet_host_flush(host_);
        return sent;
    }

    std::vector<std::string> connectedPeerNames() const override {
        std::lock_guard<std::mutex> guard(lock_);
        return names_;
    }

    void disconnect() override {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!running_) return;
            running_ = false;
            for (auto& [peer, link] : links_) enet_peer_disconnect_now(peer, 0);
            links_.clear();
            names_.clear();
            beacon_.clear();
            browsing_ = false;
            if (host_) enet_host_flush(host_);
            wake();
        }
        if (thread_.joinable()) thread_.join();
    }

    std::uint64_t instanceId() const override { return instanceId_; }
    std::uint16_t sessionPort() const override { return sessionPort_; }
    std::uint16_t beaconPort() const override { return beaconPort_; }

  private:
    static bool isConnected(const LinkInfo& link) { return link.established && link.helloReceived; }

    double linkNow() const { return options_.linkClock ? options_.linkClock() : nowSeconds(); }

    static bool sameAddress(const ENetAddress& a, const ENetAddress& b) {
        return a.host == b.host && a.port == b.port;
    }

    // Links to or from this address that have not finished the hello.
    std::size_t unfinishedLinksFrom(const ENetAddress& address) const {
        return static_cast<std::size_t>(std::count_if(links_.begin(), links_.end(), [&](const auto& l) {
            return !isConnected(l.second) && sameAddress(l.first->address, address);
        }));
    }

    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
    }

    // Empty on success, otherwise why discovery cannot start.
    std::string openBeaconSocket() {
        beaconFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (beaconFd_ < 0) return std::string("cannot open the beacon socket: ") + std::strerror(errno);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        if (options_.loopback) {
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            int last = options_.loopbackBasePort;
            for (int i = 0; i < std::max(options_.loopbackPortCount, 1); ++i) {
                const int port = options_.loopbackBasePort + i;
                if (port > 65535) break;
                last = port;
                addr.sin_port = htons(static_cast<std::uint16_t>(port));
                if (::bind(beaconFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                    beaconPort_ = static_cast<std::uint16_t>(port);
                    return {};
                }
            }
            return "every loopback beacon port " + std::to_string(options_.loopbackBasePort) + "-" +
                   std::to_string(last) + " on 127.0.0.1 is taken";
        }
        const int on = 1;
        ::setsockopt(beaconFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(beaconFd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        addr.sin_port = htons(options_.lanBeaconPort);
        if (::bind(beaconFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return "cannot listen for beacons on UDP port " + std::to_string(options_.lanBeaconPort) + ": " +
                   std::strerror(errno);
        beaconPort_ = options_.lanBeaconPort;
        return {};
    }

    // Work handed to the delegate once the lock is released.
    using Notice = std::function<void()>;

    void run() {
        std::vector<Notice> notices;
        while (true) {
            pollfd fds[3] = {
                {static_cast<int>(host_->socket), POLLIN, 0}, {beaconFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            ::poll(fds, 3, kPollMillis);
            {
                std::lock_guard<std::mutex> guard(lock_);
                std::uint64_t drained;
                while (::read(wakeFd_, &drained, sizeof drained) > 0) {
                }
                if (!running_) {
                    enet_host_flush(host_);
                    break;
                }
                const double now = nowSeconds();
                const double linkTime = linkNow();
                serviceSession(linkTime, notices);
                receiveBeacons(now, notices);
                housekeeping(now, linkTime, notices);
                enet_host_flush(host_);
            }
            for (auto& notice : notices) notice();
            notices.clear();
        }
    }

    void publishNames(std::vector<Notice>& notices) {
        std::vector<std::string> names;
        for (const auto& [peer, link] : links_)
            if (isConnected(link)) names.push_back(link.name);
        std::sort(names.begin(), names.end());
        if (names == names_) return;
        names_ = names;
        notices.push_back(
            [this, names = std::move(names)]() mutable { delegate_->peersChanged(std::move(names)); });
    }

    std::size_t connectedCount() const {
        return static_cast<std::size_t>(
            std::count_if(links_.begin(), links_.end(), [](const auto& l) { return isConnected(l.second); }));
    }

    void drop(ENetPeer* peer, std::vector<Notice>& notices) {
        enet_peer_disconnect_now(peer, 0);
        links_.erase(peer);
        publishNames(notices);
    }

    void sendHello(ENetPeer* peer) {
        Announcement a{sessionPort_, instanceId_, options_.serviceType, options_.room, options_.displayName};
        const auto bytes = encodeAnnouncement(a, AnnouncementKind::hello);
        if (bytes.empty()) return;
        if (ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE)) {
            if (enet_peer_send(peer, kHelloChannel, packet) != 0) enet_packet_destroy(packet);
        }
    }

    void serviceSession(double now, std::vector<Notice>& notices) {
        ENetEvent event;
        for (int i = 0; i < kMaxEventsPerTurn && enet_host_service(host_, &event, 0) > 0; ++i) {
            ENetPeer* peer = event.peer;
            switch (event.type) {
                case ENET_EVENT_TYPE_CONNECT: {
                    auto it = links_.find(peer);
                    if (it == links_.end()) {
                        // An invitation: accept it for our room only, from loopback only in loopback mode,
                        // and only while its sender is not already holding unfinished links.
                        if (event.data != roomHash(options_.room) ||
                            connectedCount() >= options_.maxRemotePeers ||
                            (options_.loopback && !isLoopbackHost(peer->address.host)) ||
                            unfinishedLinksFrom(peer->address) >= maxUnfinishedLinksPerAddress) {
                            enet_peer_disconnect_now(peer, 0);
                            break;
                        }
                        it = links_.emplace(peer, LinkInfo{0, {}, false, false, false, now}).first;
                    }
                    it->second.established = true;
                    it->second.since = now;
                    enet_peer_timeout(peer, 32, 2000, 4000);  // a silent peer goes within a few seconds
                    sendHello(peer);
                    break;
                }
                case ENET_EVENT_TYPE_RECEIVE: {
                    handlePacket(peer, event.channelID, event.packet, notices);
                    enet_packet_destroy(event.packet);
                    break;
                }
                case ENET_EVENT_TYPE_DISCONNECT:
                    if (links_.erase(peer) > 0) publishNames(notices);
                    break;
                case ENET_EVENT_TYPE_NONE:
                    break;
            }
        }
    }

    void handlePacket(ENetPeer* peer, enet_uint8 channel, ENetPacket* packet, std::vector<Notice>& notices) {
        const auto it = links_.find(peer);
        if (it == links_.end() || !it->second.established) return;
        LinkInfo& link = it->second;
        const std::span<const std::uint8_t> bytes(packet->data, packet->dataLength);
        if (channel == kHelloChannel) {
            if (link.helloReceived) return;
            const auto hello = parseAnnouncement(bytes, AnnouncementKind::hello);
            const bool sameInstanceElsewhere =
                hello && std::any_of(links_.begin(), links_.end(), [&](const auto& l) {
                    return l.first != peer && isConnected(l.second) &&
                           l.second.instanceId == hello->instanceId;
                });
            if (!hello || hello->serviceType != options_.serviceType || hello->room != options_.room ||
                hello->instanceId == instanceId_ || sameInstanceElsewhere ||
                (link.outgoing && hello->instanceId != link.instanceId) ||
                connectedCount() >= options_.maxRemotePeers) {
                drop(peer, notices);
                return;
            }
            link.instanceId = hello->instanceId;
            link.name = hello->displayName;
            link.helloReceived = true;
            publishNames(notices);
            return;
        }
        if (!isConnected(link) || bytes.empty()) return;
        notices.push_back(
            [this, name = link.name, data = std::vector<std::uint8_t>(bytes.begin(), bytes.end())]() mutable {
                delegate_->dataReceived(std::move(name), std::move(data));
            });
    }

    void receiveBeacons(double now, std::vector<Notice>& notices) {
        std::uint8_t buffer[Announcement::maxEncodedBytes + 1];
        for (int i = 0; i < kMaxBeaconsPerTurn; ++i) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const auto n = ::recvfrom(beaconFd_, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0) return;
            if (!browsing_ || static_cast<std::size_t>(n) > Announcement::maxEncodedBytes) continue;
            if (options_.loopback && !isLoopbackHost(from.sin_addr.s_addr)) continue;
            auto beacon = parseAnnouncement(
                std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)), AnnouncementKind::beacon);
            if (!beacon || beacon->serviceType != options_.serviceType || beacon->instanceId == instanceId_ ||
                beacon->port == 0)
                continue;
            auto it = found_.find(beacon->instanceId);
            if (it == found_.end()) {
                if (found_.size() >= kMaxFoundPeers) {
                    const auto oldest = std::min_element(
                        found_.begin(), found_.end(),
                        [](const auto& a, const auto& b) { return a.second.lastSeen < b.second.lastSeen; });
                    found_.erase(oldest);
                }
                it = found_.emplace(beacon->instanceId, FoundEntry{}).first;
            }
            FoundEntry& entry = it->second;
            const bool changed =
                entry.peer.room != beacon->room || entry.peer.displayName != beacon->displayName;
            entry.peer = FoundPeer{beacon->instanceId, beacon->displayName, beacon->room};
            entry.address.host = from.sin_addr.s_addr;
            entry.address.port = beacon->port;
            entry.lastSeen = now;
            const bool linked = std::any_of(links_.begin(), links_.end(), [&](const auto& l) {
                return l.second.instanceId == beacon->instanceId;
            });
            if (!linked && (changed || now - entry.lastReported >= kFoundRepeatSec)) {
                entry.lastReported = now;
                notices.push_back(
                    [this, peer = entry.peer]() mutable { delegate_->peerFound(std::move(peer)); });
            }
        }
    }

    void sendBeacon() {
        if (beacon_.empty()) return;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        if (options_.loopback) {
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            for (int i = 0; i < options_.loopbackPortCount; ++i) {
                const int port = options_.loopbackBasePort + i;
                if (port > 65535) break;
                if (port == beaconPort_) continue;
                to.sin_port = htons(static_cast<std::uint16_t>(port));
                ::sendto(beaconFd_, beacon_.data(), beacon_.size(), MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            return;
        }
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        to.sin_port = htons(options_.lanBeaconPort);
        ::sendto(beaconFd_, beacon_.data(), beacon_.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }

    void housekeeping(double now, double linkTime, std::vector<Notice>& notices) {
        if (now >= nextBeacon_) {
            sendBeacon();
            nextBeacon_ = now + options_.beaconIntervalSec;
        }
        std::erase_if(found_, [&](const auto& f) { return now - f.second.lastSeen > kFoundExpirySec; });
        // Links that connected but did not say hello in time are dropped.
        std::vector<ENetPeer*> stale;
        for (const auto& [peer, link] : links_)
            if (link.established && !link.helloReceived && linkTime - link.since > helloDeadlineSec)
                stale.push_back(peer);
        for (ENetPeer* peer : stale) drop(peer, notices);
    }

    PeerNodeOptions options_;
    PeerNodeDelegate* delegate_;
    const std::uint64_t instanceId_;
    mutable std::mutex lock_;
    ENetHost* host_ = nullptr;
    int beaconFd_ = -1;
    int wakeFd_ = -1;
    std::uint16_t sessionPort_ = 0;
    std::uint16_t beaconPort_ = 0;
    bool running_ = false;
    bool browsing_ = false;
    std::vector<std::uint8_t> beacon_;
    double nextBeacon_ = 0;
    std::unordered_map<ENetPeer*, LinkInfo> links_;
    std::map<std::uint64_t, FoundEntry> found_;
    std::vector<std::string> names_;
    std::thread thread_;
};

}  // namespace

std::uint16_t loopbackBasePortFromEnvironment(std::uint16_t fallback) {
    const char* text = std::getenv("VANTRY_COOP_LOOPBACK_PORT");
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1024 || value > 65000) return fallback;
    return static_cast<std::uint16_t>(value);
}

std::unique_ptr<PeerNode> PeerNode::create(PeerNodeOptions options, PeerNodeDelegate* delegate,
                                           std::string* error) {
    if (!delegate) {
        if (error) *error = "no delegate";
        return nullptr;
    }
    auto node = std::make_unique<ENetPeerNode>(std::move(options), delegate);
    if (std::string why = node->open(); !why.empty()) {
        if (error) *error = std::move(why);
        return nullptr;
    }
    return node;
}

}  // namespace vantry::platform::p2p
