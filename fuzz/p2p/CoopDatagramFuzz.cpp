// Any bytes as a datagram received from a co-op peer, decoded as the session manager does before anything
// acts on it: a player-state packet becomes an avatar update for its sender, anything else of 12 bytes or
// more is voice placed at the sender, and voice decodes to samples. The first byte picks the sender (one of
// them already has an avatar, indoors) and whether the listener is indoors. Nothing may crash; an update
// is for the sender with finite numbers and replaces the sender's avatar when there is one; voice is placed
// where the sender stands (or ahead-right of the listener) behind 0 or 2 walls; samples stay within -1..1.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "creator/coop-voice/CoopSessionRules.h"
#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry;
    using creator::OruCoopPlayerStatePacketV1170;
    using creator::OruRemoteCoopAvatarV1170;
    if (size == 0) return 0;
    static const Float3 birchPos{1, 1.7f, -10};
    static const std::vector<OruRemoteCoopAvatarV1170> avatars = {OruRemoteCoopAvatarV1170(
        "birch", "BIRCH", birchPos, 0, false, -1, true, 0, creator::coop::accentFor("birch"))};
    const std::string sender = (data[0] & 1) ? "birch" : "ash";
    const bool listenerInside = (data[0] & 0x80) != 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const Float3 listener{0, 1.7f, -14};

    const auto route = creator::coop::routeDatagram(bytes, sender, avatars, listener, listenerInside);
    const auto packet = OruCoopPlayerStatePacketV1170::decodeBinary(bytes);
    if (route.avatar && route.voice) std::abort();
    if (route.avatar) {
        const auto& a = route.avatar->avatar;
        if (!packet || a.id != sender || !std::isfinite(a.worldPos.x) || !std::isfinite(a.worldPos.y) ||
            !std::isfinite(a.worldPos.z) || !std::isfinite(a.yaw) || !std::isfinite(a.voiceRMS))
            std::abort();
        if (route.avatar->replaceIndex.has_value() != (sender == "birch")) std::abort();
    } else if (route.voice) {
        if (packet || bytes.size() < 12) std::abort();
        const bool senderInside = sender == "birch";
        if (route.voice->walls != (senderInside != listenerInside ? 2 : 0)) std::abort();
        const Float3 expected = senderInside ? birchPos : Float3{2.5f, 1.7f, -16.5f};
        const Float3 at = route.voice->speakerPos;
        if (at.x != expected.x || at.y != expected.y || at.z != expected.z) std::abort();
        if (const auto voice = creator::OruIMAADPCMVoiceCodecV1170::decodeToFloat32(bytes)) {
            for (float s : voice->samples)
                if (!(std::fabs(s) <= 32768.0f / 32767.0f)) std::abort();
        }
    } else if (bytes.size() >= 12 && !packet) {
        std::abort();  // long data that is not a state packet counts as voice
    }
    return 0;
}
