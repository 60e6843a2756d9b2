// Any bytes as a received player-state packet, and as an avatar JSON document.
// A decoded packet must re-encode to 48 bytes that decode to the same numbers
// and flags bit for bit; nothing may crash or read out of bounds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

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
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto avatar = Avatar::fromJSON(text)) {
        // Whatever was accepted writes back and reads back the same.
        const auto again = Avatar::fromJSON(avatar->toJSON());
        if (!again || !(*again == *avatar)) std::abort();
    }
    return 0;
}
