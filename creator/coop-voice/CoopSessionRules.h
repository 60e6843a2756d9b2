// The co-op session's rules that need no network or UI: status lines, the squadmate accent colour,
// the convoy bots, the 20 Hz send limit and how a received datagram is routed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"

namespace vantry::creator::coop {

inline constexpr std::string_view kServiceType = "ov-grimfall-v9";
inline constexpr std::string_view kInitialRoomCode = "NYC-6AVE";
inline constexpr std::string_view kFallbackDisplayName = "Corvella-Mac";
inline constexpr std::size_t kDisplayNameCharacters = 20;
inline constexpr std::string_view kBotIdPrefix = "convoy_sim_";
inline constexpr double kStateInterval = 0.05;  // seconds between state broadcasts (20 Hz)
inline constexpr std::size_t kMaxRemotePeers = 3;
inline constexpr double kInviteTimeoutSec = 10.0;
inline constexpr float kMicVoiceRMS = 0.35f;

// Status lines.
std::string offlineStatus();
std::string broadcastingStatus(std::string_view room);
// The lobby could not start discovery, so nobody can find it; reason says what failed.
std::string discoveryFailedStatus(std::string_view room, std::string_view reason);
std::string peersChangedStatus(std::string_view room, const std::vector<std::string>& names);
std::string micLiveStatus(std::string_view room, std::size_t peerCount);
std::string micMutedStatus(std::string_view room, bool sessionActive);

// Upper-case form of a room code (ASCII letters; other bytes unchanged).
std::string upperRoomCode(std::string_view code);
// The display name: the first 20 characters of the host name, or of the fallback when it is empty.
std::string displayNameFor(std::string_view hostName);

// Palette index |h| mod 3 for a hash h of the id that is fixed for the run (FNV-1a, so also across runs).
Float3 accentFor(std::string_view id);
const std::vector<OruRemoteCoopAvatarV1170>& convoyBots();
bool isBot(const OruRemoteCoopAvatarV1170& avatar);
// Removes every bot if there is one, otherwise appends both (gunner first).
void toggleBots(std::vector<OruRemoteCoopAvatarV1170>& avatars);
// Keeps bots and the avatars of connected peers, in order.
void pruneAvatars(std::vector<OruRemoteCoopAvatarV1170>& avatars, const std::vector<std::string>& connected);

// Local heading to the listener's right-hand direction: (cos yaw, 0, -sin yaw).
Float3 rightVectorForYaw(float yaw);

// One state broadcast per 50 ms at most, by wall-clock seconds.
class StateSendLimiter {
  public:
    // True (and remembers now) when a packet may go; the sequence number then advances, wrapping.
    bool allow(double now);
    std::uint32_t nextSeq() { return ++sendSeq_; }
    std::uint32_t sendSeq() const { return sendSeq_; }
    double lastTime() const { return last_; }

  private:
    std::uint32_t sendSeq_ = 0;
    double last_ = 0;
};

// What a received datagram asks for.
struct AvatarUpdate {
    OruRemoteCoopAvatarV1170 avatar;
    std::optional<std::size_t> replaceIndex;  // none: append
};
struct VoiceRoute {
    Float3 speakerPos;
    std::int64_t walls = 0;
};
struct DatagramRoute {
    std::optional<AvatarUpdate> avatar;
    std::optional<VoiceRoute> voice;
};

// A player-state packet becomes an avatar update (none when a number in it is not finite); anything else of
// 12 bytes or more is voice placed at the sender's avatar (or 2.5 m ahead-right of the listener when it has
// none), with 2 walls when exactly one of the two is inside the hospital; shorter data is ignored.
DatagramRoute routeDatagram(std::span<const std::uint8_t> bytes, std::string_view sender,
                            const std::vector<OruRemoteCoopAvatarV1170>& avatars, Float3 localPos,
                            bool localInsideMercy);

// Applies an avatar update to the list.
void applyAvatarUpdate(std::vector<OruRemoteCoopAvatarV1170>& avatars, AvatarUpdate update);

}  // namespace vantry::creator::coop
