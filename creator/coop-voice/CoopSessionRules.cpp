#include "creator/coop-voice/CoopSessionRules.h"

#include <algorithm>
#include <cmath>

#include "common/Utf8.h"

namespace vantry::creator::coop {

std::string offlineStatus() {
    return "Offline · Ready for LAN / Wi-Fi 4P Convoy";
}

std::string broadcastingStatus(std::string_view room) {
    return "Broadcasting Room " + std::string(room) + " · Searching Mac & iPad Squadmates…";
}

std::string discoveryFailedStatus(std::string_view room, std::string_view reason) {
    return "Room " + std::string(room) + " Not Started · Discovery failed: " + std::string(reason);
}

std::string peersChangedStatus(std::string_view room, const std::vector<std::string>& names) {
    if (names.empty()) return "Broadcasting Room " + std::string(room) + " · Waiting for Squadmates…";
    std::string joined;
    for (const auto& n : names) joined += (joined.empty() ? "" : ", ") + n;
    return "CONNECTED: " + joined + " · 3D Proximity Active!";
}

std::string micLiveStatus(std::string_view room, std::size_t peerCount) {
    return "3D Proximity Voice LIVE · Room " + std::string(room) + " (" + std::to_string(peerCount) +
           " peers)";
}

std::string micMutedStatus(std::string_view room, bool sessionActive) {
    return sessionActive ? "Room " + std::string(room) + " Active · Mic Muted" : std::string("Offline");
}

std::string upperRoomCode(std::string_view code) {
    std::string out(code);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string displayNameFor(std::string_view hostName) {
    return utf8::prefixCharacters(hostName.empty() ? kFallbackDisplayName : hostName, kDisplayNameCharacters);
}

Float3 accentFor(std::string_view id) {
    static const Float3 palette[3] = {{0.18f, 0.92f, 1.0f}, {1.0f, 0.72f, 0.16f}, {0.32f, 1.0f, 0.56f}};
    std::uint32_t h = 2166136261u;
    for (unsigned char c : id) h = (h ^ c) * 16777619u;
    // Read as a signed hash, |h| mod 3 (the magnitude is taken in 64 bits, so INT32_MIN is fine).
    const auto signedHash = static_cast<std::int64_t>(static_cast<std::int32_t>(h));
    return palette[static_cast<std::size_t>((signedHash < 0 ? -signedHash : signedHash) % 3)];
}

const std::vector<OruRemoteCoopAvatarV1170>& convoyBots() {
    static const std::vector<OruRemoteCoopAvatarV1170> bots = {
        {"convoy_sim_gunner", "VIPER-M134", {3.4f, 0, -28}, 0.25f, false, 1, false, 0, {0.18f, 0.92f, 1.0f}},
        {"convoy_sim_hauler", "ONYX-CORE", {-3.8f, 0, -32}, -0.18f, true, -1, false, 0, {1.0f, 0.72f, 0.16f}},
    };
    return bots;
}

bool isBot(const OruRemoteCoopAvatarV1170& avatar) {
    return avatar.id.starts_with(kBotIdPrefix);
}

void toggleBots(std::vector<OruRemoteCoopAvatarV1170>& avatars) {
    if (std::any_of(avatars.begin(), avatars.end(), isBot)) {
        std::erase_if(avatars, isBot);
    } else {
        avatars.insert(avatars.end(), convoyBots().begin(), convoyBots().end());
    }
}

void pruneAvatars(std::vector<OruRemoteCoopAvatarV1170>& avatars, const std::vector<std::string>& connected) {
    std::erase_if(avatars, [&](const OruRemoteCoopAvatarV1170& a) {
        return !isBot(a) && std::find(connected.begin(), connected.end(), a.id) == connected.end();
    });
}

Float3 rightVectorForYaw(float yaw) {
    return Float3{std::cos(yaw), 0, -std::sin(yaw)};
}

bool StateSendLimiter::allow(double now) {
    if (now - last_ < kStateInterval) return false;
    last_ = now;
    return true;
}

DatagramRoute routeDatagram(std::span<const std::uint8_t> bytes, std::string_view sender,
                            const std::vector<OruRemoteCoopAvatarV1170>& avatars, Float3 localPos,
                            bool localInsideMercy) {
    DatagramRoute route;
    const auto findSender = [&] {
        return std::find_if(avatars.begin(), avatars.end(), [&](const auto& a) { return a.id == sender; });
    };
    if (const auto packet = OruCoopPlayerStatePacketV1170::decodeBinary(bytes)) {
        // A position or level that is not a number cannot place anyone: such a packet is dropped.
        if (!std::isfinite(packet->posX) || !std::isfinite(packet->posY) || !std::isfinite(packet->posZ) ||
            !std::isfinite(packet->yaw) || !std::isfinite(packet->voiceRMS))
            return route;
        AvatarUpdate update;
        update.avatar = OruRemoteCoopAvatarV1170(std::string(sender), packet->callsign16, packet->worldPos(),
                                                 packet->yaw, packet->carryingCore(), packet->warthogSeat(),
                                                 packet->insideMercy(), packet->voiceRMS, accentFor(sender));
        if (const auto it = findSender(); it != avatars.end())
            update.replaceIndex = static_cast<std::size_t>(it - avatars.begin());
        route.avatar = std::move(update);
        return route;
    }
    if (bytes.size() < 12) return route;
    VoiceRoute voice;
    bool speakerIndoors = false;
    if (const auto it = findSender(); it != avatars.end()) {
        voice.speakerPos = it->worldPos;
        speakerIndoors = it->isIndoorsMercy;
    } else {
        voice.speakerPos = Float3{localPos.x + 2.5f, localPos.y, localPos.z - 2.5f};
    }
    voice.walls = speakerIndoors != localInsideMercy ? 2 : 0;
    route.voice = voice;
    return route;
}

void applyAvatarUpdate(std::vector<OruRemoteCoopAvatarV1170>& avatars, AvatarUpdate update) {
    if (update.replaceIndex && *update.replaceIndex < avatars.size())
        avatars[*update.replaceIndex] = std::move(update.avatar);
    else
        avatars.push_back(std::move(update.avatar));
}

}  // namespace vantry::creator::coop
