// Writes seed inputs made by the project's own encoders into fuzz/corpus/<target>/ (file names start
// with "enc-"), so that every fuzz target starts from well-formed messages of each kind and reaches past
// the first checks at once. Run from the repository root: build-fuzz/fuzz/vantry_fuzz_seeds [DIR]
// (default fuzz/corpus). The output is the same on every run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"
#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/replay-raids/OruDeterministicReplayClipV1250.h"
#include "creator/ugc/OruUGCRaidMapRecordV1175.h"
#include "platform/p2p/Announcement.h"

using namespace vantry;
using creator::OruCoopPlayerStatePacketV1170;
using creator::OruIMAADPCMVoiceCodecV1170;
using creator::OruRemoteCoopAvatarV1170;

namespace {

std::filesystem::path gRoot = "fuzz/corpus";

void put(const std::string& target, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto dir = gRoot / target;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / ("enc-" + name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void put(const std::string& target, const std::string& name, std::string_view text) {
    put(target, name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> prefixed(std::uint8_t first, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> out{first};
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::vector<float> tone(std::size_t n, float amplitude, float step) {
    std::vector<float> samples(n);
    for (std::size_t i = 0; i < n; ++i) samples[i] = amplitude * std::sin(step * float(i));
    return samples;
}

void announcements() {
    using platform::p2p::Announcement;
    using platform::p2p::AnnouncementKind;
    using platform::p2p::encodeAnnouncement;
    const Announcement withRoom{29811, 0x0123456789abcdefULL, "ov-grimfall-v9", "NYC-6AVE", "Corvella-Mac"};
    const Announcement noRoom{40000, 7, "ov-grimfall-v9", std::nullopt, "ash"};
    const Announcement longest{65535, ~0ULL, std::string(Announcement::maxServiceBytes, 's'),
                               std::string(Announcement::maxRoomBytes, 'R'),
                               std::string(Announcement::maxNameBytes, 'n')};
    const Announcement utf8{1, 2, "svc", "B\xc3\xa4r", "Zo\xc3\xab \xe2\x98\x85"};
    int i = 0;
    for (const auto& a : {withRoom, noRoom, longest, utf8}) {
        put("fuzz_coop_beacon", "beacon-" + std::to_string(i),
            encodeAnnouncement(a, AnnouncementKind::beacon));
        put("fuzz_coop_beacon", "hello-" + std::to_string(i), encodeAnnouncement(a, AnnouncementKind::hello));
        ++i;
    }
}

std::vector<OruCoopPlayerStatePacketV1170> statePackets() {
    return {
        OruCoopPlayerStatePacketV1170(1, Float3{0, 1.7f, -14}, 0, 0, false, false, -1, "ASH"),
        OruCoopPlayerStatePacketV1170(42, Float3{-17.5f, 5.5f, -71.2f}, 1.42f, 0.64f, true, true, 1,
                                      "TARIN-M6"),
        OruCoopPlayerStatePacketV1170(0xffffffffu, Float3{1e30f, -1e-30f, 3}, -3.1f, 1, false, true, 6,
                                      "\xc3\x89lodie-\xe2\x98\x85-\xf0\x9f\x9a\x80-long-callsign"),
        OruCoopPlayerStatePacketV1170(7, Float3{0, 0, 0}, 0, 0, true, false, 0, ""),
    };
}

void playerStates() {
    int i = 0;
    for (const auto& p : statePackets()) {
        put("fuzz_player_state", "state-" + std::to_string(i), p.encodeBinary());
        const OruRemoteCoopAvatarV1170 avatar("peer-" + std::to_string(i), p.callsign16, p.worldPos(), p.yaw,
                                              p.carryingCore(), p.warthogSeat(), p.insideMercy(), p.voiceRMS,
                                              Float3{0.2f, 0.8f, 1});
        put("fuzz_player_state", "avatar-" + std::to_string(i) + ".json", avatar.toJSON());
        ++i;
    }
    // A packet whose position is not a number: decodes, but the session drops it.
    auto bad = statePackets()[1];
    bad.posY = std::numeric_limits<float>::quiet_NaN();
    put("fuzz_player_state", "state-nan", bad.encodeBinary());
}

std::vector<std::vector<std::uint8_t>> voicePackets() {
    return {
        OruIMAADPCMVoiceCodecV1170::encodeFloat32Packet(tone(320, 0.35f, 0.16f), 16000),
        OruIMAADPCMVoiceCodecV1170::encodeFloat32Packet(tone(33, 1.0f, 2.9f), 8000),
        OruIMAADPCMVoiceCodecV1170::encodeFloat32Packet(tone(1, -1.0f, 0), 48000),
        OruIMAADPCMVoiceCodecV1170::encodeFloat32Packet(tone(64, 0.9f, 3.1f), 0),
    };
}

void voice() {
    int i = 0;
    for (const auto& packet : voicePackets())
        put("fuzz_voice_packet", "voice-" + std::to_string(i++), packet);
}

void datagrams() {
    // First byte: bit 0 picks the sender with an avatar, bit 7 puts the listener indoors.
    int i = 0;
    for (const auto& p : statePackets()) {
        for (const std::uint8_t first : {0x00, 0x81}) {
            const auto bytes = prefixed(first, p.encodeBinary());
            put("fuzz_coop_datagram", "state-" + std::to_string(i), bytes);
            put("fuzz_coop_session", "state-" + std::to_string(i), bytes);
            ++i;
        }
    }
    i = 0;
    for (const auto& packet : voicePackets()) {
        for (const std::uint8_t first : {0x01, 0x80}) {
            const auto bytes = prefixed(first, packet);
            put("fuzz_coop_datagram", "voice-" + std::to_string(i), bytes);
            put("fuzz_coop_session", "voice-" + std::to_string(i), bytes);
            ++i;
        }
    }
}

void replays() {
    using Clip = creator::OruDeterministicReplayClipV1250;
    using Frame = creator::OruReplayInputFrameV1250;
    Clip empty;
    empty.seed = 1;
    Clip raid;
    raid.seed = 0x5eed5eed5eedULL;
    for (int i = 0; i < 12; ++i)
        raid.frames.push_back(Frame(16, std::sin(float(i)), std::cos(float(i)), 0.01f * float(i),
                                    static_cast<std::uint8_t>(i * 37)));
    raid.highlightTickBookmarks = {0, 3, 11, 4294967295LL};
    Clip extremes;
    extremes.seed = ~0ULL;
    extremes.frames = {Frame::raw(65535, -128, 127, -32768, 255), Frame::raw(0, 127, -128, 32767, 0)};
    extremes.highlightTickBookmarks = {-5};
    int i = 0;
    for (const auto& clip : {empty, raid, extremes}) {
        auto bytes = clip.encodeCompactBinary();
        put("fuzz_replay_decoder", "clip-" + std::to_string(i), bytes);
        bytes.insert(bytes.end(), {1, 2, 3});  // trailing bytes are ignored
        put("fuzz_replay_decoder", "clip-trailing-" + std::to_string(i), bytes);
        ++i;
    }
    auto cut = raid.encodeCompactBinary();
    cut.resize(cut.size() - 3);
    put("fuzz_replay_decoder", "clip-cut", cut);
}

void maps() {
    creator::OruUGCRaidMapRecordV1175 map;
    map.id = "map-5th-ave";
    map.title = "Fifth Avenue \xe2\x80\x94 convoy";
    map.authorCallsign = "TARIN-M6";
    map.district = "Midtown";
    map.summary = "Barrels at \"the corner\"\n\ttab \\ slash \xf0\x9f\x9a\x80";
    map.placements = {{"b1", "Barrel", "barrel", 1.5f, 0, -12.25f, 0.785398f, 1},
                      {"c2", "Crate", "crate", -3e-7f, 2.5e6f, -1e20f, -3.14159f, 0.5f}};
    map.likes = 9007199254740993LL;
    map.syncedToCloudKit = true;
    map.createdISO = "2026-12-07T02:08:50Z";
    put("fuzz_ugc_map_record", "map-pretty.json", creator::encodeRaidMapPretty(map));
    put("fuzz_ugc_map_record", "map-compact.json", creator::encodeRaidMapCompact(map));
    creator::OruUGCRaidMapRecordV1175 bare;
    bare.likes = -1;
    put("fuzz_ugc_map_record", "map-bare.json", creator::encodeRaidMapCompact(bare));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) gRoot = argv[1];
    announcements();
    playerStates();
    voice();
    datagrams();
    replays();
    maps();
    std::printf("seeds written under %s\n", gRoot.c_str());
    return 0;
}
