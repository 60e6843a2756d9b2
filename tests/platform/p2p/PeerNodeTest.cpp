// Session links of a loopback peer node against a neighbour that connects and never says hello.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "platform/p2p/Announcement.h"
#include "platform/p2p/PeerNode.h"
#include "tests/support/Ports.h"
#include "tests/support/Wait.h"

using namespace vantry::platform::p2p;

namespace {

using vantry::testing::processBasePort;
using vantry::testing::waitUntil;

constexpr const char* kRoom = "AB-12";

// Invites every peer it finds and remembers who is connected.
class Player : public PeerNodeDelegate {
  public:
    void peersChanged(std::vector<std::string> names) override {
        std::lock_guard<std::mutex> guard(lock_);
        names_ = std::move(names);
    }
    void dataReceived(std::string, std::vector<std::uint8_t>) override {}
    void peerFound(FoundPeer peer) override {
        if (PeerNode* n = node.load()) n->invite(peer.instanceId, 10);
    }
    std::vector<std::string> names() const {
        std::lock_guard<std::mutex> guard(lock_);
        return names_;
    }
    std::atomic<PeerNode*> node{nullptr};

  private:
    mutable std::mutex lock_;
    std::vector<std::string> names_;
};

// One ENet host that opens links with the right room hash and never sends a hello.
struct SilentNeighbour {
    ENetHost* host = nullptr;
    std::set<ENetPeer*> greeted;  // links the node took: it sent its hello on them
    int disconnects = 0;

    SilentNeighbour(std::uint16_t port, int links) {
        enet_initialize();
        ENetAddress local{};
        local.host = htonl(INADDR_LOOPBACK);
        host = enet_host_create(&local, static_cast<std::size_t>(links), 3, 0, 0);
        ENetAddress to{};
        to.host = htonl(INADDR_LOOPBACK);
        to.port = port;
        for (int i = 0; i < links; ++i) enet_host_connect(host, &to, 3, roomHash(kRoom));
    }
    ~SilentNeighbour() { enet_host_destroy(host); }
    void service() {
        ENetEvent e;
        while (enet_host_service(host, &e, 0) > 0) {
            if (e.type == ENET_EVENT_TYPE_DISCONNECT) greeted.erase(e.peer), ++disconnects;
            if (e.type == ENET_EVENT_TYPE_RECEIVE) greeted.insert(e.peer), enet_packet_destroy(e.packet);
        }
    }
    // Keeps the links alive for the given time.
    void serviceFor(double seconds) {
        waitUntil([&] { return service(), false; }, seconds);
    }
    bool serviceUntil(const std::function<bool()>& done, double seconds) {
        return waitUntil([&] { return service(), done(); }, seconds);
    }
};

class PeerNodeLinks : public ::testing::Test {
  protected:
    std::unique_ptr<PeerNode> start(Player& player, const std::string& name) {
        PeerNodeOptions options;
        options.serviceType = "ov-grimfall-v9";
        options.displayName = name;
        options.room = kRoom;
        options.loopback = true;
        options.loopbackBasePort = processBasePort();
        options.linkClock = [this] { return linkTime.load(); };
        auto node = PeerNode::create(std::move(options), &player);
        if (!node) return node;
        player.node = node.get();
        node->startAdvertising(std::string(kRoom));
        node->startBrowsing();
        return node;
    }

    std::atomic<double> linkTime{1000.0};  // frozen unless a test moves it
};

TEST_F(PeerNodeLinks, ALinkWithoutAHelloIsDroppedAfterTwoSeconds) {
    Player host;
    auto node = start(host, "ash");
    ASSERT_TRUE(node);
    SilentNeighbour silent(node->sessionPort(), 1);
    ASSERT_TRUE(silent.serviceUntil([&] { return silent.greeted.size() == 1; }, 10));

    linkTime = 1001.5;
    silent.serviceFor(0.5);
    EXPECT_EQ(silent.disconnects, 0) << "still inside its two seconds";

    linkTime = 1002.5;
    EXPECT_TRUE(silent.serviceUntil([&] { return silent.disconnects == 1; }, 10));
}

TEST_F(PeerNodeLinks, OneSourceHoldsAtMostTwoUnfinishedLinksAndPlayersStillJoin) {
    Player ashPlayer, birchPlayer;
    auto ash = start(ashPlayer, "ash");
    ASSERT_TRUE(ash);
    // Eight links, as many as the host has slots; the clock stands still, so no deadline frees them.
    SilentNeighbour silent(ash->sessionPort(), 8);
    EXPECT_TRUE(
        silent.serviceUntil([&] { return silent.disconnects == 6 && silent.greeted.size() == 2; }, 10));

    auto birch = start(birchPlayer, "birch");
    ASSERT_TRUE(birch);
    EXPECT_TRUE(silent.serviceUntil(
        [&] {
            return ashPlayer.names() == std::vector<std::string>{"birch"} &&
                   birchPlayer.names() == std::vector<std::string>{"ash"};
        },
        20));
    EXPECT_EQ(silent.greeted.size(), 2u);
}

}  // namespace
