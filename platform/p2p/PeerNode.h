// One peer of a small peer-to-peer session over ENet, with discovery by UDP beacons.
//
// Session: every peer runs one ENet host. State and voice travel as unreliable, sequenced ENet packets
// on their own channels (a late datagram is dropped rather than delivered out of order, and the two
// streams never drop each other's packets); the hello that names a peer travels reliably. An invite is
// an ENet connect carrying the room's hash; the receiver accepts it only for its own room and while it
// has room for another peer, and a link counts as connected once both hellos have crossed. A link that
// has not finished its hello within 2 s is dropped, and one source address (IP and port, i.e. one
// remote ENet host) may hold at most 2 unfinished links, so nobody can sit on the host's slots.
//
// Discovery: a beacon (service type, version, room, display name, ENet port) every half second. On a
// LAN it goes to the IPv4 limited broadcast address, which stays on the local segment, needs no group
// membership or interface choice, and reaches every listener on the port, several processes per host
// included. In loopback mode every peer binds one beacon port from a small fixed range on 127.0.0.1 and
// sends only to the other ports of that range; nothing is sent, and nothing is accepted, outside
// 127.0.0.0/8.
//
// All ENet work happens under one lock, on the node's network thread or in the caller's send/invite
// call. The delegate is called on the network thread, outside the lock. Everything that arrives is
// bounded: packet sizes, the table of found peers, the number of links, datagrams handled per turn.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantry::platform::p2p {

struct PeerNodeOptions {
    std::string serviceType;
    std::string displayName;
    std::string room;  // the session's room: connects for another room are refused
    bool loopback = false;
    std::uint16_t loopbackBasePort = 29810;
    int loopbackPortCount = 16;
    std::uint16_t lanBeaconPort = 47809;
    double beaconIntervalSec = 0.5;
    std::size_t maxRemotePeers = 3;
    // Monotonic seconds for the hello deadline; none: the steady clock. Read on the network thread.
    std::function<double()> linkClock;
};

// Base port for loopback discovery: VANTRY_COOP_LOOPBACK_PORT when set to a usable number, else fallback.
std::uint16_t loopbackBasePortFromEnvironment(std::uint16_t fallback);

struct FoundPeer {
    std::uint64_t instanceId = 0;
    std::string displayName;
    std::optional<std::string> room;  // the beacon's room entry, absent when it has none
};

class PeerNodeDelegate {
  public:
    virtual ~PeerNodeDelegate() = default;
    // The display names of the connected peers after a change.
    virtual void peersChanged(std::vector<std::string> connectedNames) = 0;
    virtual void dataReceived(std::string sender, std::vector<std::uint8_t> bytes) = 0;
    // A browsed peer; repeated every few seconds while it stays unconnected.
    virtual void peerFound(FoundPeer peer) = 0;
};

enum class PeerChannel : std::uint8_t { state = 0, voice = 1 };

class PeerNode {
  public:
    static constexpr std::size_t maxPacketBytes = 64 * 1024;

    static constexpr double helloDeadlineSec = 2.0;
    static constexpr std::size_t maxUnfinishedLinksPerAddress = 2;

    // Absent when the host or the beacon socket cannot be set up; error (when given) then says why,
    // e.g. that every loopback beacon port is taken. The delegate must outlive the node.
    static std::unique_ptr<PeerNode> create(PeerNodeOptions options, PeerNodeDelegate* delegate,
                                            std::string* error = nullptr);
    virtual ~PeerNode() = default;

    // The advertiser: beacons with the given room entry (none: no room in the beacon).
    virtual void startAdvertising(std::optional<std::string> room) = 0;
    virtual void stopAdvertising() = 0;
    // The browser: reports found peers of the same service type.
    virtual void startBrowsing() = 0;
    virtual void stopBrowsing() = 0;
    // Connects to a found peer. Only the side with the lower instance id connects, so two peers that
    // find each other make one link; false when this side leaves it to the other or cannot connect.
    virtual bool invite(std::uint64_t instanceId, double timeoutSec) = 0;
    // Unreliable, sequenced, to every connected peer; false when nothing was sent.
    virtual bool sendToAll(std::span<const std::uint8_t> bytes, PeerChannel channel) = 0;
    virtual std::vector<std::string> connectedPeerNames() const = 0;
    // Leaves the session at once (peers see the link go), stops discovery and the network thread.
    virtual void disconnect() = 0;

    virtual std::uint64_t instanceId() const = 0;
    virtual std::uint16_t sessionPort() const = 0;
    virtual std::uint16_t beaconPort() const = 0;
};

}  // namespace vantry::platform::p2p
