#include "creator/lobby/FriendslopLobby.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace vantry::creator::lobby {

std::vector<OruProximityVoiceSpeakerV1020> initialSpeakers(std::string_view localName) {
    const Float3 still{0, 0, 0};
    return {
        {"p1", std::string(localName), {0, 1.4f, 0}, still, 0, false, true, 0.18f},
        {"p2", "Vox (Co-Op)", {-2.4f, 1.4f, -1.2f}, still, 0, false, false, 0.42f},
        {"p3", "Nova (Co-Op)", {3.1f, 1.4f, -2.5f}, still, 0, false, false, 0.12f},
        {"p4", "Jet (Winch)", {0.5f, 4.2f, -5.0f}, still, 1, false, false, 0.3f},
    };
}

int roomNumber(const std::function<std::uint32_t()>& randomWord) {
    constexpr std::uint64_t span = 9000;
    constexpr std::uint64_t words = std::uint64_t{std::numeric_limits<std::uint32_t>::max()} + 1;
    constexpr std::uint64_t limit = words - words % span;  // the largest multiple of span
    std::uint64_t word = randomWord();
    while (word >= limit) word = randomWord();
    return static_cast<int>(word % span) + 1000;
}

std::string roomCode(std::string_view prefix, int number) {
    std::string code(prefix);
    code += '-';
    code += std::to_string(number);
    return code;
}

std::string newRoomBanner(std::string_view code) {
    std::string banner = "New 4P Room ";
    banner += code;
    banner += " Open!";
    return banner;
}

bool toggleMute(std::vector<OruProximityVoiceSpeakerV1020>& speakers, std::string_view speakerID) {
    for (auto& speaker : speakers) {
        if (speaker.id == speakerID) {
            speaker.isMuted = !speaker.isMuted;
            return true;
        }
    }
    return false;
}

void pulseSimulatedChatter(std::vector<OruProximityVoiceSpeakerV1020>& speakers, bool proximityVoiceEnabled,
                           bool micLive, float t) {
    if (speakers.empty()) return;
    const float localLevel = std::fabs(std::sin(3.1f * t)) * 0.25f + 0.18f;
    for (std::size_t i = 0; i < speakers.size(); ++i) {
        auto& speaker = speakers[i];
        if (speaker.isMuted || !proximityVoiceEnabled) {
            speaker.voiceActivityLevel = 0;
        } else if (speaker.isLocalPlayer) {
            speaker.voiceActivityLevel = micLive ? localLevel : 0;
        } else {
            const float fi = static_cast<float>(i);
            const float h = std::sin(2.1f * fi + t * (0.7f * fi + 1.8f));
            speaker.voiceActivityLevel = h > 0.55f ? (h - 0.55f) * 2.1f : 0.04f;
        }
    }
}

}  // namespace vantry::creator::lobby
