// Decoded co-op datagrams fed to the session's rules, as the session manager does: an avatar update is
// applied to the avatar list, voice goes to the voice engine, which mixes and queues it (the decoding
// alone is the fuzz_coop_datagram target). The first byte picks the sender
// and whether the listener is indoors. Nothing may crash; avatars stay one per sender with finite
// positions; every queued sample stays within -1..1.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "creator/coop-voice/CoopSessionRules.h"
#include "creator/coop-voice/OruLive3DProximityVoiceEngineV1170.h"
#include "tests/creator/coop-voice/FakeAudio.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry;
    static const char* senders[] = {"ash", "birch", "cedar"};
    static auto backend = std::make_shared<fakes::FakeAudioBackend>();
    static vantry::creator::OruLive3DProximityVoiceEngineV1170 engine(backend);
    static std::vector<vantry::creator::OruRemoteCoopAvatarV1170> avatars;
    engine.startLiveCaptureAndPlayback();
    if (size == 0) return 0;

    const std::string sender = senders[data[0] % 3];
    const bool listenerInside = (data[0] & 0x80) != 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const Float3 listener{0, 1.7f, -14};
    auto route = creator::coop::routeDatagram(bytes, sender, avatars, listener, listenerInside);
    if (route.avatar && route.voice) std::abort();
    if (route.avatar) {
        const auto& a = route.avatar->avatar;
        if (a.id != sender || !std::isfinite(a.worldPos.x) || !std::isfinite(a.worldPos.y) ||
            !std::isfinite(a.worldPos.z))
            std::abort();
        creator::coop::applyAvatarUpdate(avatars, std::move(*route.avatar));
        if (avatars.size() > 3) std::abort();
    } else if (route.voice) {
        if (route.voice->walls != 0 && route.voice->walls != 2) std::abort();
        backend->state->queued.clear();
        engine.ingestRemoteVoicePacket(bytes, listener, Float3{1, 0, 0}, route.voice->speakerPos,
                                       route.voice->walls);
        for (const auto& buffer : backend->state->queued)
            for (const auto& channel : buffer->channels)
                for (std::uint32_t i = 0; i < buffer->frameLength; ++i)
                    if (!(std::fabs(channel[i]) <= 1.0f)) std::abort();
    } else if (bytes.size() >= 12 && !vantry::creator::OruCoopPlayerStatePacketV1170::decodeBinary(bytes)) {
        std::abort();  // long data that is not a state packet counts as voice
    }
    return 0;
}
