// The two small messages of the peer-to-peer layer that name a peer: the discovery beacon (sent over
// plain UDP) and the hello each side of a new session link sends first. Same layout, different magic:
//
//   0  4  magic: "OVB1" beacon, "OVH1" hello
//   4  1  version (1)
//   5  1  flags: bit 0 = a room is given; other bits 0
//   6  2  ENet port, little-endian
//   8  8  instance id, little-endian (random per process, tells peers with equal names apart)
//  16  1+n service type (n <= 32)
//   .  1+n room (n <= 64; length 0 and flag clear when there is none)
//   .  1+n display name (1 <= n <= 96)
//
// Nothing may follow the name. Texts may hold no byte below 0x20 and no 0x7F.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantry::platform::p2p {

enum class AnnouncementKind { beacon, hello };

struct Announcement {
    static constexpr std::uint8_t currentVersion = 1;
    static constexpr std::size_t maxServiceBytes = 32;
    static constexpr std::size_t maxRoomBytes = 64;
    static constexpr std::size_t maxNameBytes = 96;
    static constexpr std::size_t maxEncodedBytes = 16 + 3 + maxServiceBytes + maxRoomBytes + maxNameBytes;

    std::uint16_t port = 0;
    std::uint64_t instanceId = 0;
    std::string serviceType;
    std::optional<std::string> room;
    std::string displayName;

    friend bool operator==(const Announcement&, const Announcement&) = default;
};

// Empty when a text is too long, the name empty or a text holds a control byte.
std::vector<std::uint8_t> encodeAnnouncement(const Announcement& announcement, AnnouncementKind kind);
// Absent for anything that is not exactly one well-formed message of this kind and version.
std::optional<Announcement> parseAnnouncement(std::span<const std::uint8_t> bytes, AnnouncementKind kind);

// FNV-1a of a room code: carried in the session connect request so the receiver can turn away a
// connect for another room before any hello.
std::uint32_t roomHash(std::string_view room);

}  // namespace vantry::platform::p2p
