// The 48-byte player-state message each co-op player broadcasts about 20 times
// a second, and the per-squadmate record the receiver keeps.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/Vector.h"

namespace vantry::creator {

struct OruCoopPlayerStatePacketV1170 {
    // Little-endian on the wire: the first four bytes read "PCPS".
    static constexpr std::uint32_t magic = 0x53504350;
    static constexpr std::size_t encodedBytes = 48;
    static constexpr std::size_t callsignBytes = 16;
    static constexpr std::size_t callsignCharacters = 16;
    // Flag word: bit 0 carrying the core, bit 1 inside the hospital, bits 2-4 seat code.
    static constexpr std::uint32_t knownFlagBits = 0x1F;

    std::uint32_t seq = 0;
    float posX = 0, posY = 0, posZ = 0;
    float yaw = 0;
    float voiceRMS = 0;
    std::uint32_t flags = 0;
    std::string callsign16;  // at most 16 characters

    OruCoopPlayerStatePacketV1170() = default;
    // warthogSeat -1 means not seated; the stored seat code is clamped to 0..7.
    OruCoopPlayerStatePacketV1170(std::uint32_t seq, Float3 pos, float yaw, float voiceRMS, bool carryingCore,
                                  bool insideMercy, std::int64_t warthogSeat, std::string_view callsign);

    bool carryingCore() const { return (flags & 1u) != 0; }
    bool insideMercy() const { return (flags & 2u) != 0; }
    int warthogSeat() const { return static_cast<int>((flags >> 2) & 7u) - 1; }
    Float3 worldPos() const { return Float3{posX, posY, posZ}; }

    std::vector<std::uint8_t> encodeBinary() const;
    // Absent for fewer than 48 bytes or a wrong magic; bytes past 48 are ignored.
    static std::optional<OruCoopPlayerStatePacketV1170> decodeBinary(std::span<const std::uint8_t> data);

    friend bool operator==(const OruCoopPlayerStatePacketV1170&,
                           const OruCoopPlayerStatePacketV1170&) = default;
};

// Thrown when an avatar cannot be written as JSON (a float that is not finite).
class AvatarEncodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct OruRemoteCoopAvatarV1170 {
    std::string id;  // the sending peer's display name, or a bot's fixed id
    std::string callsign;
    Float3 worldPos;
    float yaw = 0;
    bool carryingConEdCore = false;
    std::int64_t inWarthogSeat = -1;
    bool isIndoorsMercy = false;
    float voiceRMS = 0;
    Float3 accentRGB;

    OruRemoteCoopAvatarV1170() = default;
    OruRemoteCoopAvatarV1170(std::string id, std::string callsign, Float3 worldPos, float yaw,
                             bool carryingConEdCore, std::int64_t inWarthogSeat, bool isIndoorsMercy,
                             float voiceRMS, Float3 accentRGB);

    // One JSON object with a key per field (the field names); vectors are
    // three-number arrays. Throws AvatarEncodingError for a non-finite float.
    std::string toJSON() const;
    // Reads what toJSON writes (keys in any order, all required); absent when malformed.
    static std::optional<OruRemoteCoopAvatarV1170> fromJSON(std::string_view json);

    friend bool operator==(const OruRemoteCoopAvatarV1170&, const OruRemoteCoopAvatarV1170&) = default;
};

}  // namespace vantry::creator
