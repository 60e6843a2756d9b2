// Any bytes as a received player-state packet, and as an avatar JSON document.
// A decoded packet must re-encode to 48 bytes that decode to the same numbers
// and flags bit for bit; nothing may crash or read out of bounds. A packet built from a seat
// number in the input keeps the seat within -1..6, a squadmate avatar made from a decoded
// packet writes to JSON and back unchanged, and the UTF-8 readers agree with each other.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "common/Utf8.h"
#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Packet = vantry::creator::OruCoopPlayerStatePacketV1170;
    using Avatar = vantry::creator::OruRemoteCoopAvatarV1170;
    if (const auto packet = Packet::decodeBinary(std::span<const std::uint8_t>(data, size))) {
        if ((packet->flags & ~0x1Fu) != 0) std::abort();
        if (packet->warthogSeat() < -1 || packet->warthogSeat() > 6) std::abort();
        if (packet->callsign16.empty()) std::abort();
        const auto bytes = packet->encodeBinary();
        if (bytes.size() != 48) std::abort();
        const auto back = Packet::decodeBinary(bytes);
        // The callsign may change once (a character cut by the 16-byte field reads
        // back as U+FFFD); every other field travels unchanged.
        if (!back || back->callsign16.empty()) std::abort();
        const auto again = back->encodeBinary();
        if (!std::equal(again.begin(), again.begin() + 32, bytes.begin())) std::abort();
        if (std::isfinite(packet->posX) && std::isfinite(packet->posY) && std::isfinite(packet->posZ) &&
            std::isfinite(packet->yaw) && std::isfinite(packet->voiceRMS)) {
            const Avatar avatar("peer", packet->callsign16, packet->worldPos(), packet->yaw,
                                packet->carryingCore(), packet->warthogSeat(), packet->insideMercy(),
                                packet->voiceRMS, vantry::Float3{0.2f, 0.8f, 1});
            const auto read = Avatar::fromJSON(avatar.toJSON());
            if (!read || !(*read == avatar)) std::abort();
        }
    }
    if (size >= 8) {
        std::int64_t seat = 0;
        std::memcpy(&seat, data, sizeof seat);
        const Packet built(1, vantry::Float3{0, 0, 0}, 0, 0, false, false, seat, "SEAT");
        if (built.warthogSeat() != std::clamp<std::int64_t>(seat, -1, 6)) std::abort();
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    namespace utf8 = vantry::utf8;
    if (const auto strict = utf8::decodeStrict(text)) {
        if (utf8::encode(*strict) != text || *strict != utf8::decodeLenient(text)) std::abort();
    }
    const std::size_t keep = size ? data[0] % 24 : 0;
    const auto prefix = utf8::prefixCharacters(text, keep);
    if (utf8::characterCount(utf8::decodeLenient(prefix), keep + 1, nullptr) > keep) std::abort();
    if (const auto avatar = Avatar::fromJSON(text)) {
        // Whatever was accepted writes back and reads back the same.
        const auto again = Avatar::fromJSON(avatar->toJSON());
        if (!again || !(*again == *avatar)) std::abort();
    }
    return 0;
}
