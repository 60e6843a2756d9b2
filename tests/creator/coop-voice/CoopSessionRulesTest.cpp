#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "creator/coop-voice/CoopSessionRules.h"

using namespace vantry;
using namespace vantry::creator;
using namespace vantry::creator::coop;

namespace {

OruRemoteCoopAvatarV1170 avatar(const std::string& id, Float3 pos = {}, bool indoors = false) {
    return {id, "CS", pos, 0, false, -1, indoors, 0, accentFor(id)};
}

TEST(CoopStatusLines, ReadCharacterForCharacter) {
    EXPECT_EQ(offlineStatus(), "Offline · Ready for LAN / Wi-Fi 4P Convoy");
    EXPECT_EQ(broadcastingStatus("AB-12"), "Broadcasting Room AB-12 · Searching Mac & iPad Squadmates…");
    EXPECT_EQ(peersChangedStatus("AB-12", {"ash", "birch"}), "CONNECTED: ash, birch · 3D Proximity Active!");
    EXPECT_EQ(peersChangedStatus("AB-12", {}), "Broadcasting Room AB-12 · Waiting for Squadmates…");
    EXPECT_EQ(micLiveStatus("NYC-6AVE", 0), "3D Proximity Voice LIVE · Room NYC-6AVE (0 peers)");
    EXPECT_EQ(micMutedStatus("AB-12", true), "Room AB-12 Active · Mic Muted");
    EXPECT_EQ(micMutedStatus("AB-12", false), "Offline");
}

TEST(CoopNames, RoomCodesAndDisplayNames) {
    EXPECT_EQ(upperRoomCode("ab-12"), "AB-12");
    EXPECT_EQ(upperRoomCode("Zz-9é"), "ZZ-9é");
    EXPECT_EQ(displayNameFor(""), "Corvella-Mac");
    EXPECT_EQ(displayNameFor("a-very-long-host-name-here"), "a-very-long-host-nam");
    EXPECT_EQ(kServiceType.size(), 14u);
}

TEST(CoopAccent, IsAPaletteEntryStableForAnId) {
    const std::vector<Float3> palette = {{0.18f, 0.92f, 1.0f}, {1.0f, 0.72f, 0.16f}, {0.32f, 1.0f, 0.56f}};
    std::set<int> used;
    for (const std::string id : {"ash", "birch", "cedar", "dune", "elm", "fir", ""}) {
        const Float3 a = accentFor(id);
        const auto it = std::find(palette.begin(), palette.end(), a);
        ASSERT_NE(it, palette.end()) << id;
        used.insert(static_cast<int>(it - palette.begin()));
        EXPECT_EQ(accentFor(id), a);
    }
    EXPECT_GT(used.size(), 1u);
}

TEST(CoopBots, ToggleTwiceRestoresAndPruneKeepsThem) {
    std::vector<OruRemoteCoopAvatarV1170> avatars = {avatar("ash")};
    toggleBots(avatars);
    ASSERT_EQ(avatars.size(), 3u);
    EXPECT_EQ(avatars[1].id, "convoy_sim_gunner");
    EXPECT_EQ(avatars[1].callsign, "VIPER-M134");
    EXPECT_EQ(avatars[1].inWarthogSeat, 1);
    EXPECT_EQ(avatars[2].id, "convoy_sim_hauler");
    EXPECT_TRUE(avatars[2].carryingConEdCore);
    EXPECT_EQ(avatars[2].worldPos, (Float3{-3.8f, 0, -32}));

    auto pruned = avatars;
    pruneAvatars(pruned, {});
    EXPECT_EQ(pruned.size(), 2u);  // the bots survive peer changes
    toggleBots(avatars);
    ASSERT_EQ(avatars.size(), 1u);
    EXPECT_EQ(avatars[0].id, "ash");
}

TEST(CoopSendLimiter, OnePacketPer50Milliseconds) {
    StateSendLimiter limiter;
    EXPECT_TRUE(limiter.allow(1000.0));
    EXPECT_EQ(limiter.nextSeq(), 1u);
    EXPECT_FALSE(limiter.allow(1000.03));
    EXPECT_TRUE(limiter.allow(1000.06));
    EXPECT_EQ(limiter.nextSeq(), 2u);
}

TEST(CoopRightVector, FollowsYaw) {
    const Float3 r = rightVectorForYaw(1.5707963f);
    EXPECT_NEAR(r.x, 0, 1e-6);
    EXPECT_FLOAT_EQ(r.z, -1);
}

TEST(CoopRouting, StatePacketsUpdateInPlaceOrAppend) {
    std::vector<OruRemoteCoopAvatarV1170> avatars = {avatar("ash"), avatar("birch")};
    const OruCoopPlayerStatePacketV1170 packet(7, {1, 2, 3}, 0.5f, 0.35f, true, false, 2, "BIRCH-7");
    auto route = routeDatagram(packet.encodeBinary(), "birch", avatars, {}, false);
    ASSERT_TRUE(route.avatar);
    EXPECT_FALSE(route.voice);
    EXPECT_EQ(route.avatar->replaceIndex, 1u);
    const auto& a = route.avatar->avatar;
    EXPECT_EQ(a.id, "birch");
    EXPECT_EQ(a.callsign, "BIRCH-7");
    EXPECT_EQ(a.worldPos, (Float3{1, 2, 3}));
    EXPECT_TRUE(a.carryingConEdCore);
    EXPECT_EQ(a.inWarthogSeat, 2);
    EXPECT_FLOAT_EQ(a.voiceRMS, 0.35f);
    EXPECT_EQ(a.accentRGB, accentFor("birch"));
    applyAvatarUpdate(avatars, *route.avatar);
    EXPECT_EQ(avatars[1].callsign, "BIRCH-7");

    route = routeDatagram(packet.encodeBinary(), "cedar", avatars, {}, false);
    ASSERT_TRUE(route.avatar);
    EXPECT_FALSE(route.avatar->replaceIndex);

    // Numbers that are not finite place nobody: the packet is dropped, not taken for voice.
    for (float bad : {NAN, INFINITY}) {
        const OruCoopPlayerStatePacketV1170 hostile(8, {bad, 0, 0}, 0, 0, false, false, -1, "X");
        route = routeDatagram(hostile.encodeBinary(), "birch", avatars, {}, false);
        EXPECT_FALSE(route.avatar);
        EXPECT_FALSE(route.voice);
    }
}

TEST(CoopRouting, VoiceIsPlacedAndOccludedByTheHospitalWalls) {
    const std::vector<OruRemoteCoopAvatarV1170> avatars = {avatar("out", {5, 0, 5}, false),
                                                           avatar("in", {6, 0, 6}, true)};
    const std::vector<std::uint8_t> voice(40, 0x11);
    struct Case {
        const char* sender;
        bool listenerInside;
        Float3 pos;
        std::int64_t walls;
    } cases[] = {
        {"out", false, {5, 0, 5}, 0},
        {"out", true, {5, 0, 5}, 2},
        {"in", false, {6, 0, 6}, 2},
        {"in", true, {6, 0, 6}, 0},
        {"stranger", false, {12.5f, 1, -2.5f}, 0},
        {"stranger", true, {12.5f, 1, -2.5f}, 2},
    };
    for (const auto& c : cases) {
        const auto route = routeDatagram(voice, c.sender, avatars, {10, 1, 0}, c.listenerInside);
        ASSERT_TRUE(route.voice) << c.sender;
        EXPECT_EQ(route.voice->speakerPos, c.pos) << c.sender;
        EXPECT_EQ(route.voice->walls, c.walls) << c.sender << " inside " << c.listenerInside;
    }
    const auto shortData = routeDatagram(std::vector<std::uint8_t>(11, 1), "out", avatars, {}, false);
    EXPECT_FALSE(shortData.voice);
    EXPECT_FALSE(shortData.avatar);
}

}  // namespace
