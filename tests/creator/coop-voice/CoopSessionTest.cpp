// Several session managers in one process, talking over loopback only.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"
#include "platform/p2p/Announcement.h"
#include "tests/creator/coop-voice/FakeAudio.h"
#include "tests/support/EventPump.h"
#include "tests/support/Ports.h"

using namespace vantry;
using namespace vantry::creator;
using Manager = OruLiveMultipeerCoopManagerV1170;

namespace {

using vantry::testing::processBasePort;

// Runs this thread's event loop until done() holds, `seconds` at most.
bool waitUntil(const std::function<bool()>& done, double seconds) {
    return vantry::testing::pumpUntil(done, int(seconds * 1000));
}

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "coop_session_tests";
    static char* argv[] = {name, nullptr};
    static auto* instance = new QCoreApplication(argc, argv);
    return *instance;
}

void pump(double seconds) {
    waitUntil([] { return false; }, seconds);
}

const OruRemoteCoopAvatarV1170* avatarOf(const Manager& m, const std::string& id) {
    for (const auto& a : m.remoteAvatars())
        if (a.id == id) return &a;
    return nullptr;
}

float channelRMS(const platform::PcmBuffer& b, int channel) {
    double sum = 0;
    for (std::uint32_t i = 0; i < b.frameLength; ++i)
        sum += double(b.channels[channel][i]) * b.channels[channel][i];
    return b.frameLength ? float(std::sqrt(sum / b.frameLength)) : 0.0f;
}

std::vector<float> tone(double hz, float amplitude) {
    std::vector<float> s(1024);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = amplitude * float(std::sin(2 * M_PI * hz * i / 48000.0));
    return s;
}

void sendUdp(std::uint16_t port, std::span<const std::uint8_t> bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
}

class CoopSession : public ::testing::Test {
  protected:
    void SetUp() override { app(); }

    Manager& make(const std::string& name, std::uint16_t basePort = processBasePort()) {
        auto backend = std::make_shared<fakes::FakeAudioBackend>();
        audio[name] = backend->state;
        CoopManagerOptions options;
        options.displayName = name;
        options.loopback = true;
        options.loopbackBasePort = basePort;
        options.audio = backend;
        if (clock) options.clock = clock;
        managers.push_back(std::make_unique<Manager>(options));
        return *managers.back();
    }

    static bool connectedTo(const Manager& m, std::size_t count) {
        return m.connectedPeerNames().size() == count;
    }

    std::vector<std::unique_ptr<Manager>> managers;
    std::map<std::string, std::shared_ptr<fakes::FakeAudioState>> audio;
    std::function<double()> clock;
};

TEST_F(CoopSession, ThreePeersOfARoomFindEachOtherAndSeeEachOtherMove) {
    Manager& a = make("ash");
    Manager& b = make("birch");
    Manager& c = make("cedar");
    Manager& d = make("dune");
    for (Manager* m : {&a, &b, &c}) m->startCoopLobby(std::string("ab-12"));
    d.startCoopLobby(std::string("XY-99"));
    EXPECT_EQ(a.roomCode(), "AB-12");
    EXPECT_EQ(a.statusText(), "Broadcasting Room AB-12 · Searching Mac & iPad Squadmates…");

    ASSERT_TRUE(waitUntil([&] { return connectedTo(a, 2) && connectedTo(b, 2) && connectedTo(c, 2); }, 20));
    EXPECT_EQ(a.connectedPeerNames(), (std::vector<std::string>{"birch", "cedar"}));
    EXPECT_EQ(a.statusText(), "CONNECTED: birch, cedar · 3D Proximity Active!");
    EXPECT_TRUE(d.connectedPeerNames().empty());
    EXPECT_EQ(d.statusText(), "Broadcasting Room XY-99 · Searching Mac & iPad Squadmates…");

    // Everyone walks a slow circle; everyone sees the other two move.
    std::map<std::pair<const Manager*, std::string>, std::set<float>> seen;
    const auto start = std::chrono::steady_clock::now();
    auto moved = [&] {
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        int i = 0;
        for (Manager* m : {&a, &b, &c}) {
            m->broadcastLocalState({std::cos(float(t) + i), 0, std::sin(float(t) + i)}, float(t), false,
                                   false, -1);
            ++i;
            for (const auto& av : m->remoteAvatars()) seen[{m, av.id}].insert(av.worldPos.x);
        }
        if (seen.size() < 6) return false;
        for (const auto& [key, xs] : seen)
            if (xs.size() < 3) return false;
        return true;
    };
    ASSERT_TRUE(waitUntil(moved, 15));
    EXPECT_TRUE(d.remoteAvatars().empty());
    EXPECT_EQ(avatarOf(a, "birch")->callsign, "birch");

    c.stopCoopLobby();
    EXPECT_EQ(c.statusText(), "Offline · Ready for LAN / Wi-Fi 4P Convoy");
    ASSERT_TRUE(waitUntil([&] { return connectedTo(a, 1) && connectedTo(b, 1); }, 10));
    EXPECT_EQ(a.statusText(), "CONNECTED: birch · 3D Proximity Active!");
    EXPECT_EQ(avatarOf(a, "cedar"), nullptr);
    EXPECT_NE(avatarOf(a, "birch"), nullptr);
}

TEST_F(CoopSession, AFifthPeerIsNotInvited) {
    std::vector<Manager*> four;
    for (const char* name : {"p1", "p2", "p3", "p4"}) {
        four.push_back(&make(name));
        four.back()->startCoopLobby(std::string("AB-12"));
    }
    ASSERT_TRUE(waitUntil(
        [&] { return std::all_of(four.begin(), four.end(), [](Manager* m) { return connectedTo(*m, 3); }); },
        25));
    Manager& fifth = make("p5");
    fifth.startCoopLobby(std::string("AB-12"));
    pump(4.0);  // more than one round of repeated discovery
    EXPECT_TRUE(fifth.connectedPeerNames().empty());
    EXPECT_EQ(fifth.statusText(), "Broadcasting Room AB-12 · Searching Mac & iPad Squadmates…");
    for (Manager* m : four) EXPECT_EQ(m->connectedPeerNames().size(), 3u);
}

TEST_F(CoopSession, StateIsSentAtMost20TimesASecond) {
    double now = 1000.0;
    clock = [&now] { return now; };
    Manager& a = make("ash");
    Manager& b = make("birch");
    // Offline: nothing goes out, the local state still follows.
    a.broadcastLocalState({1, 2, 3}, 0, false, true, -1);
    EXPECT_EQ(a.sendSeq(), 0u);
    EXPECT_EQ(a.localPos(), (Float3{1, 2, 3}));
    EXPECT_TRUE(a.localInsideMercy());

    a.startCoopLobby(std::string("AB-12"));
    b.startCoopLobby(std::string("AB-12"));
    ASSERT_TRUE(waitUntil([&] { return connectedTo(a, 1) && connectedTo(b, 1); }, 15));
    a.broadcastLocalState({5, 0, 0}, 0, false, false, -1);
    now += 0.03;
    a.broadcastLocalState({6, 0, 0}, 0, false, false, -1);
    EXPECT_EQ(a.sendSeq(), 1u);
    now += 0.03;
    a.setVoiceMicEnabled(true);
    a.broadcastLocalState({7, 0, 0}, 0, true, false, 3);
    EXPECT_EQ(a.sendSeq(), 2u);
    ASSERT_TRUE(waitUntil([&] { return avatarOf(b, "ash") && avatarOf(b, "ash")->worldPos.x == 7; }, 5));
    const auto& seenByB = *avatarOf(b, "ash");
    EXPECT_FLOAT_EQ(seenByB.voiceRMS, 0.35f);
    EXPECT_TRUE(seenByB.carryingConEdCore);
    EXPECT_EQ(seenByB.inWarthogSeat, 3);
}

TEST_F(CoopSession, MicrophoneBotsAndStopFollowTheirRules) {
    Manager& m = make("ash");
    EXPECT_EQ(m.statusText(), "Offline · Ready for LAN / Wi-Fi 4P Convoy");
    m.setVoiceMicEnabled(false);
    EXPECT_EQ(m.statusText(), "Offline");
    m.setVoiceMicEnabled(true);  // offline: starts a session first
    EXPECT_TRUE(m.isSessionActive());
    EXPECT_TRUE(m.isVoiceMicEnabled());
    EXPECT_TRUE(m.voiceEngine().isRunning());
    EXPECT_EQ(audio["ash"]->tapInstalls, 1);
    EXPECT_EQ(m.statusText(), "3D Proximity Voice LIVE · Room NYC-6AVE (0 peers)");
    m.setVoiceMicEnabled(false);
    EXPECT_EQ(m.statusText(), "Room NYC-6AVE Active · Mic Muted");
    EXPECT_FALSE(m.voiceEngine().isRunning());

    m.toggleSoloConvoyBotPreview();
    EXPECT_EQ(m.remoteAvatars().size(), 2u);
    m.startCoopLobby(std::string(""));  // restart keeps the room and drops the bots
    EXPECT_EQ(m.roomCode(), "NYC-6AVE");
    EXPECT_TRUE(m.remoteAvatars().empty());
    m.toggleSoloConvoyBotPreview();
    m.setVoiceMicEnabled(true);
    m.stopCoopLobby();
    EXPECT_FALSE(m.isVoiceMicEnabled());
    EXPECT_FALSE(m.isSessionActive());
    EXPECT_TRUE(m.remoteAvatars().empty());
    EXPECT_EQ(m.statusText(), "Offline · Ready for LAN / Wi-Fi 4P Convoy");
}

TEST_F(CoopSession, VoiceComesOutOnTheSpeakersSideAndMuffledThroughWalls) {
    Manager& a = make("ash");
    Manager& b = make("birch");
    a.startCoopLobby(std::string("AB-12"));
    b.startCoopLobby(std::string("AB-12"));
    ASSERT_TRUE(waitUntil([&] { return connectedTo(a, 1) && connectedTo(b, 1); }, 15));
    a.setVoiceMicEnabled(true);
    b.setVoiceMicEnabled(true);
    auto& heard = audio["birch"]->queued;

    // birch at the origin facing yaw 0 (right = +x); ash 4 m to the right, outdoors or inside.
    auto place = [&](bool ashInside) {
        return waitUntil(
            [&] {
                b.broadcastLocalState({0, 0, 0}, 0, false, false, -1);
                a.broadcastLocalState({4, 0, 0}, 0, false, ashInside, -1);
                const auto* av = avatarOf(b, "ash");
                return av && av->isIndoorsMercy == ashInside;
            },
            5);
    };
    auto speak = [&](double hz) -> std::shared_ptr<const platform::PcmBuffer> {
        heard.clear();
        audio["ash"]->capture(tone(hz, 0.5f), 48000);
        if (!waitUntil([&] { return !heard.empty(); }, 5)) return nullptr;
        return heard.front();
    };
    ASSERT_TRUE(place(false));
    const auto open = speak(2500);
    ASSERT_TRUE(open);
    EXPECT_GT(channelRMS(*open, 1), 2 * channelRMS(*open, 0)) << "louder on the right, where ash stands";

    ASSERT_TRUE(place(true));
    const auto muffled = speak(2500);
    ASSERT_TRUE(muffled);
    EXPECT_LT(channelRMS(*muffled, 1), 0.6f * channelRMS(*open, 1)) << "two walls cut the 2.5 kHz tone";
}

TEST_F(CoopSession, ALobbyNobodyCanFindSaysSoAndStaysOffline) {
    // Another program holds every beacon port of the range.
    const std::uint16_t base = processBasePort();
    std::vector<int> held;
    for (int i = 0; i < 16; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = htons(static_cast<std::uint16_t>(base + i));
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        held.push_back(fd);
    }
    Manager& m = make("ash", base);
    m.startCoopLobby(std::string("ab-12"));
    const std::string failed = "Room AB-12 Not Started · Discovery failed: every loopback beacon port " +
                               std::to_string(base) + "-" + std::to_string(base + 15) +
                               " on 127.0.0.1 is taken";
    EXPECT_FALSE(m.isSessionActive());
    EXPECT_EQ(m.statusText(), failed);
    ASSERT_TRUE(m.discoveryError());
    m.setVoiceMicEnabled(true);  // would start a session first: there is none to talk in
    EXPECT_FALSE(m.isVoiceMicEnabled());
    EXPECT_FALSE(m.voiceEngine().isRunning());
    EXPECT_EQ(m.statusText(), failed);

    for (int fd : held) ::close(fd);
    m.startCoopLobby(std::string("AB-12"));
    EXPECT_TRUE(m.isSessionActive());
    EXPECT_FALSE(m.discoveryError());
    EXPECT_EQ(m.statusText(), "Broadcasting Room AB-12 · Searching Mac & iPad Squadmates…");
}

TEST_F(CoopSession, ABeaconWithoutARoomIsNotInvited) {
    Manager& m = make("ash");
    m.startCoopLobby(std::string("AB-12"));
    // An ENet host that only listens and counts the connects it gets.
    enet_initialize();
    ENetAddress local{};
    local.host = htonl(INADDR_LOOPBACK);
    ENetHost* listener = enet_host_create(&local, 4, 3, 0, 0);
    ASSERT_NE(listener, nullptr);
    ENetAddress bound{};
    enet_socket_get_address(listener->socket, &bound);
    int connects = 0;
    // The highest instance id, so that m is always the side that invites.
    platform::p2p::Announcement stranger{bound.port, UINT64_MAX - 1, "ov-grimfall-v9", std::nullopt,
                                         "mallory"};
    auto beaconAndCount = [&] {
        sendUdp(m.beaconPort(),
                platform::p2p::encodeAnnouncement(stranger, platform::p2p::AnnouncementKind::beacon));
        pump(0.1);
        ENetEvent e;
        while (enet_host_service(listener, &e, 0) > 0) {
            if (e.type == ENET_EVENT_TYPE_CONNECT) ++connects;
            if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
        }
        return connects > 0;
    };
    EXPECT_FALSE(waitUntil(beaconAndCount, 2.0)) << "a beacon without a room is refused";
    stranger.room = "AB-12";  // the same stranger naming our room is invited
    EXPECT_TRUE(waitUntil(beaconAndCount, 10.0));
    enet_host_destroy(listener);
}

// Forwards datagrams between an inviter and a target, dropping, duplicating and reordering some.
class LossyRelay {
  public:
    LossyRelay(std::uint16_t targetPort, double loss) : loss_(loss) {
        front_ = bound();
        back_ = bound();
        target_.sin_family = AF_INET;
        target_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target_.sin_port = htons(targetPort);
        thread_ = std::thread([this] { run(); });
    }
    ~LossyRelay() {
        stop_ = true;
        thread_.join();
        ::close(front_);
        ::close(back_);
    }
    std::uint16_t frontPort() const {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        ::getsockname(front_, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }
    std::atomic<int> dropped{0}, forwarded{0};

  private:
    static int bound() {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        return fd;
    }
    void pass(int fd, const sockaddr_in& to, std::vector<std::uint8_t> bytes,
              std::vector<std::uint8_t>& held) {
        auto send = [&](const std::vector<std::uint8_t>& b) {
            ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        };
        const double r = dice_(rng_);
        if (r < loss_) {
            ++dropped;
            return;
        }
        ++forwarded;
        if (r < loss_ + 0.1) {  // duplicate
            send(bytes);
            send(bytes);
        } else if (r < loss_ + 0.2 && held.empty()) {  // hold back: goes after the next one
            held = std::move(bytes);
            return;
        } else {
            send(bytes);
        }
        if (!held.empty()) {
            send(held);
            held.clear();
        }
    }
    void run() {
        std::vector<std::uint8_t> heldForward, heldBack;
        std::vector<std::uint8_t> buffer(65536);
        while (!stop_) {
            pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
            if (::poll(fds, 2, 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                socklen_t n = sizeof inviter_;
                const auto len = ::recvfrom(front_, buffer.data(), buffer.size(), 0,
                                            reinterpret_cast<sockaddr*>(&inviter_), &n);
                if (len > 0) pass(back_, target_, {buffer.begin(), buffer.begin() + len}, heldForward);
            }
            if (fds[1].revents & POLLIN) {
                const auto len = ::recv(back_, buffer.data(), buffer.size(), 0);
                if (len > 0 && inviter_.sin_port != 0)
                    pass(front_, inviter_, {buffer.begin(), buffer.begin() + len}, heldBack);
            }
        }
    }
    double loss_;
    int front_ = -1, back_ = -1;
    sockaddr_in target_{}, inviter_{};
    std::atomic<bool> stop_{false};
    std::mt19937 rng_{1234};
    std::uniform_real_distribution<double> dice_{0.0, 1.0};
    std::thread thread_;
};

TEST_F(CoopSession, StateKeepsFlowingThroughALossyReorderingLink) {
    // Two discovery ranges, so the peers only meet through the relay.
    Manager& a = make("ash", processBasePort());
    Manager& b = make("birch", static_cast<std::uint16_t>(processBasePort() + 16));
    a.startCoopLobby(std::string("AB-12"));
    b.startCoopLobby(std::string("AB-12"));
    // The lower instance id invites; it learns of the other through a beacon naming the relay.
    Manager& inviter = a.sessionInstanceId() < b.sessionInstanceId() ? a : b;
    Manager& target = &inviter == &a ? b : a;
    const std::uint16_t inviterBase =
        &inviter == &a ? processBasePort() : std::uint16_t(processBasePort() + 16);
    LossyRelay relay(target.sessionPort(), 0.2);
    const auto beacon = platform::p2p::encodeAnnouncement(
        {relay.frontPort(), target.sessionInstanceId(), "ov-grimfall-v9", "AB-12", target.displayName()},
        platform::p2p::AnnouncementKind::beacon);
    auto beaconAndCheck = [&] {
        for (int i = 0; i < 16; ++i) sendUdp(static_cast<std::uint16_t>(inviterBase + i), beacon);
        return connectedTo(a, 1) && connectedTo(b, 1);
    };
    ASSERT_TRUE(waitUntil([&] { return beaconAndCheck() || (pump(0.3), false); }, 30));

    int updatesAtA = 0, updatesAtB = 0;
    QObject::connect(&a, &Manager::remoteAvatarsChanged, [&] { ++updatesAtA; });
    QObject::connect(&b, &Manager::remoteAvatarsChanged, [&] { ++updatesAtB; });
    const auto start = std::chrono::steady_clock::now();
    waitUntil(
        [&] {
            const float t = std::chrono::duration<float>(std::chrono::steady_clock::now() - start).count();
            a.broadcastLocalState({t, 0, 0}, 0, false, false, -1);
            b.broadcastLocalState({-t, 0, 0}, 0, false, false, -1);
            return t > 3.0f;
        },
        10);
    pump(0.3);
    // 3 s at 20 Hz is 60 packets; a fifth of them is lost on the way, late ones are dropped.
    EXPECT_GE(updatesAtA, 30);
    EXPECT_LE(updatesAtA, 62);
    EXPECT_GE(updatesAtB, 30);
    EXPECT_LE(updatesAtB, 62);
    EXPECT_GT(relay.dropped.load(), 0);
    EXPECT_TRUE(connectedTo(a, 1) && connectedTo(b, 1));
}

// A raw ENet client that speaks the session protocol badly on purpose.
struct RawClient {
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    explicit RawClient(std::uint16_t port, std::uint32_t data) {
        enet_initialize();
        ENetAddress local{};
        local.host = htonl(INADDR_LOOPBACK);
        host = enet_host_create(&local, 1, 3, 0, 0);
        ENetAddress to{};
        to.host = htonl(INADDR_LOOPBACK);
        to.port = port;
        peer = enet_host_connect(host, &to, 3, data);
    }
    ~RawClient() {
        if (peer) enet_peer_reset(peer);
        enet_host_destroy(host);
    }
    // Services the host while pumping the Qt loop; true once connected.
    bool connect() {
        bool up = false;
        waitUntil(
            [&] {
                ENetEvent e;
                while (enet_host_service(host, &e, 0) > 0) {
                    if (e.type == ENET_EVENT_TYPE_CONNECT) up = true;
                    if (e.type == ENET_EVENT_TYPE_DISCONNECT) peer = nullptr, up = false;
                    if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
                }
                return up;
            },
            5);
        return up;
    }
    void send(std::span<const std::uint8_t> bytes, std::uint8_t channel, bool reliable = false) {
        if (!peer) return;
        enet_peer_send(
            peer, channel,
            enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0));
        enet_host_flush(host);
    }
    void service(double seconds) {
        waitUntil(
            [&] {
                ENetEvent e;
                while (enet_host_service(host, &e, 0) > 0) {
                    if (e.type == ENET_EVENT_TYPE_DISCONNECT) peer = nullptr;
                    if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
                }
                return false;
            },
            seconds);
    }
};

TEST_F(CoopSession, HostileBeaconsAndDatagramsJoinNothing) {
    Manager& m = make("ash");
    m.startCoopLobby(std::string("AB-12"));
    std::mt19937 rng(99);
    auto randomBytes = [&](std::size_t n) {
        std::vector<std::uint8_t> b(n);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        return b;
    };
    const platform::p2p::Announcement good{m.sessionPort(), UINT64_MAX - 1, "ov-grimfall-v9", "AB-12",
                                           "mallory"};
    auto beacon = [](platform::p2p::Announcement a) {
        return platform::p2p::encodeAnnouncement(a, platform::p2p::AnnouncementKind::beacon);
    };
    for (int i = 0; i < 200; ++i) sendUdp(m.beaconPort(), randomBytes(rng() % 1500));
    auto truncated = beacon(good);
    truncated.pop_back();
    sendUdp(m.beaconPort(), truncated);
    sendUdp(m.beaconPort(), std::vector<std::uint8_t>(4000, 'O'));
    auto wrongRoom = good;
    wrongRoom.room = "XY-99";
    sendUdp(m.beaconPort(), beacon(wrongRoom));
    auto wrongService = good;
    wrongService.serviceType = "ov-grimfall-v8";
    sendUdp(m.beaconPort(), beacon(wrongService));
    auto deadPort = good;
    deadPort.port = 9;  // nothing answers there
    sendUdp(m.beaconPort(), beacon(deadPort));
    for (int i = 0; i < 200; ++i) sendUdp(m.sessionPort(), randomBytes(rng() % 1500));

    {
        RawClient wrongHash(m.sessionPort(), platform::p2p::roomHash("XY-99"));
        wrongHash.connect();
        wrongHash.service(0.5);
        EXPECT_EQ(wrongHash.peer, nullptr) << "a connect for another room is refused";
    }
    {
        // Right room hash, but the hello names another room: dropped.
        RawClient liar(m.sessionPort(), platform::p2p::roomHash("AB-12"));
        ASSERT_TRUE(liar.connect());
        auto hello = good;
        hello.room = "XY-99";
        liar.send(platform::p2p::encodeAnnouncement(hello, platform::p2p::AnnouncementKind::hello), 2, true);
        liar.service(0.5);
        EXPECT_EQ(liar.peer, nullptr);
    }
    pump(0.5);
    EXPECT_TRUE(m.connectedPeerNames().empty());
    EXPECT_TRUE(m.remoteAvatars().empty());
    EXPECT_EQ(m.statusText(), "Broadcasting Room AB-12 · Searching Mac & iPad Squadmates…");

    // A proper peer that then floods garbage: only its one valid state packet makes an avatar.
    RawClient noisy(m.sessionPort(), platform::p2p::roomHash("AB-12"));
    ASSERT_TRUE(noisy.connect());
    noisy.send(platform::p2p::encodeAnnouncement(good, platform::p2p::AnnouncementKind::hello), 2, true);
    noisy.service(0.3);
    ASSERT_TRUE(waitUntil([&] { return connectedTo(m, 1); }, 5));
    for (int i = 0; i < 300; ++i) noisy.send(randomBytes(rng() % 3000), static_cast<std::uint8_t>(i % 2));
    noisy.send(std::vector<std::uint8_t>(60000, 0x43), 1);
    noisy.send(OruCoopPlayerStatePacketV1170(1, {NAN, 0, 0}, 0, 0, false, false, -1, "NAN").encodeBinary(),
               0);
    noisy.service(0.5);
    noisy.send(OruCoopPlayerStatePacketV1170(9, {2, 0, 2}, 0, 0, false, false, -1, "MAL").encodeBinary(), 0,
               true);
    noisy.service(0.5);
    ASSERT_TRUE(waitUntil([&] { return avatarOf(m, "mallory") != nullptr; }, 5));
    EXPECT_EQ(m.remoteAvatars().size(), 1u);
    EXPECT_EQ(avatarOf(m, "mallory")->worldPos, (Float3{2, 0, 2}));
}

}  // namespace
