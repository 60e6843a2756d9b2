// The drop-in voice lobby's state without a UI toolkit: the speaker record, the four
// initial seats, the room number drawn without modulo bias and the simulated chatter
// levels that animate the lobby when no network is attached.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Vector.h"

namespace vantry::creator {

struct OruProximityVoiceSpeakerV1020 {
    std::string id;           // stable speaker id
    std::string displayName;  // shown name
    Float3 worldPosition;     // metres
    Float3 worldVelocity;     // metres per second
    int occludingWalls = 0;   // walls between this speaker and the local player
    bool isMuted = false;     // muted by the local player
    bool isLocalPlayer = false;
    float voiceActivityLevel = 0;  // 0...1
};

namespace lobby {

// The four seats of a fresh lobby; the local player ("p1") carries localName.
std::vector<OruProximityVoiceSpeakerV1020> initialSpeakers(std::string_view localName);

// A uniform number in 1000...9999 from a source of uniform 32-bit words; words in the
// incomplete top bucket are drawn again so no remainder is favoured.
int roomNumber(const std::function<std::uint32_t()>& randomWord);

// prefix + "-" + the number in decimal.
std::string roomCode(std::string_view prefix, int number);

// "New 4P Room " + code + " Open!".
std::string newRoomBanner(std::string_view code);

// The first speaker with this id has its mute flipped; false when no speaker has it.
bool toggleMute(std::vector<OruProximityVoiceSpeakerV1020>& speakers, std::string_view speakerID);

// Sets every speaker's activity level for clock time t (seconds).
void pulseSimulatedChatter(std::vector<OruProximityVoiceSpeakerV1020>& speakers, bool proximityVoiceEnabled,
                           bool micLive, float t);

}  // namespace lobby
}  // namespace vantry::creator
