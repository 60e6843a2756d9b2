#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"

using vantry::Float3;
using vantry::creator::OruCoopPlayerStatePacketV1170;
using vantry::creator::OruRemoteCoopAvatarV1170;
using Packet = OruCoopPlayerStatePacketV1170;

namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

Packet withCallsign(std::string_view callsign, std::int64_t seat = -1) {
    return Packet(7, Float3{1, 2, 3}, 0.5f, 0.1f, false, false, seat, callsign);
}

std::string decodedCallsign(const std::vector<std::uint8_t>& bytes) {
    auto p = Packet::decodeBinary(bytes);
    return p ? p->callsign16 : std::string("<absent>");
}

}  // namespace

TEST(PlayerStatePacket, TarinRoundTripAndWireLayout) {
    const Packet p(42, Float3{-17.5f, 5.5f, -71.2f}, 1.42f, 0.64f, true, true, 1, "TARIN-M6");
    EXPECT_EQ(p.flags, 11u);
    EXPECT_TRUE(p.carryingCore());
    EXPECT_TRUE(p.insideMercy());
    EXPECT_EQ(p.warthogSeat(), 1);
    EXPECT_EQ(p.worldPos(), (Float3{-17.5f, 5.5f, -71.2f}));

    const auto bytes = p.encodeBinary();
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(std::memcmp(bytes.data(), "PCPS", 4), 0);
    EXPECT_EQ(le32(bytes, 4), 42u);
    EXPECT_EQ(le32(bytes, 8), std::bit_cast<std::uint32_t>(-17.5f));
    EXPECT_EQ(le32(bytes, 12), std::bit_cast<std::uint32_t>(5.5f));
    EXPECT_EQ(le32(bytes, 16), std::bit_cast<std::uint32_t>(-71.2f));
    EXPECT_EQ(le32(bytes, 20), std::bit_cast<std::uint32_t>(1.42f));
    EXPECT_EQ(le32(bytes, 24), std::bit_cast<std::uint32_t>(0.64f));
    EXPECT_EQ(le32(bytes, 28), 11u);
    EXPECT_EQ(std::memcmp(bytes.data() + 32, "TARIN-M6\0\0\0\0\0\0\0\0", 16), 0);

    const auto back = Packet::decodeBinary(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, p);
}

TEST(PlayerStatePacket, Callsigns) {
    // Empty: sixteen zero bytes, read back as the default name.
    const auto empty = withCallsign("").encodeBinary();
    for (std::size_t i = 32; i < 48; ++i) EXPECT_EQ(empty[i], 0);
    EXPECT_EQ(decodedCallsign(empty), "OPERATOR");

    // Exactly sixteen ASCII characters fill the field with no terminator.
    const auto full = withCallsign("ABCDEFGHIJKLMNOP");
    const auto fullBytes = full.encodeBinary();
    EXPECT_EQ(std::memcmp(fullBytes.data() + 32, "ABCDEFGHIJKLMNOP", 16), 0);
    EXPECT_EQ(*Packet::decodeBinary(fullBytes), full);

    // Longer: the constructor keeps sixteen characters.
    EXPECT_EQ(withCallsign("ABCDEFGHIJKLMNOPQRST").callsign16, "ABCDEFGHIJKLMNOP");
    // Sixteen two-byte characters survive the constructor, the encoder keeps 16 bytes.
    std::string umlauts;
    for (int i = 0; i < 20; ++i) umlauts += "\xC3\xA9";  // é
    const auto wide = withCallsign(umlauts);
    EXPECT_EQ(wide.callsign16.size(), 32u);
    EXPECT_EQ(decodedCallsign(wide.encodeBinary()), umlauts.substr(0, 16));

    // The 16th byte inside a character: a trailing U+FFFD.
    std::string cutOne = "A";
    for (int i = 0; i < 8; ++i) cutOne += "\xC3\xA9";
    EXPECT_EQ(decodedCallsign(withCallsign(cutOne).encodeBinary()), cutOne.substr(0, 15) + "\xEF\xBF\xBD");
    std::string euros;  // three-byte characters: 5 whole, then 1 of 3 bytes
    for (int i = 0; i < 6; ++i) euros += "\xE2\x82\xAC";
    EXPECT_EQ(decodedCallsign(withCallsign(euros).encodeBinary()), euros.substr(0, 15) + "\xEF\xBF\xBD");
}

TEST(PlayerStatePacket, CallsignCharactersAreWhatAReaderSees) {
    // A letter with a combining accent, a flag (two regional indicators) and an
    // emoji with a skin-tone modifier each count as one character.
    const std::string accented = "e\xCC\x81";                     // e + U+0301
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";  // DE
    const std::string wave = "\xF0\x9F\x91\x8B\xF0\x9F\x8F\xBD";  // waving hand, medium skin
    for (const std::string& c : {accented, flag, wave}) {
        std::string seventeen;
        for (int i = 0; i < 17; ++i) seventeen += c;
        std::string sixteen;
        for (int i = 0; i < 16; ++i) sixteen += c;
        EXPECT_EQ(withCallsign(seventeen).callsign16, sixteen);
    }
    // A family joined by U+200D is one character; a lone flag letter is one too.
    const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
    EXPECT_EQ(withCallsign(family + "ABCDEFGHIJKLMNOPQ").callsign16, family + "ABCDEFGHIJKLMNO");
    EXPECT_EQ(withCallsign("\xF0\x9F\x87\xA9"
                           "ABCDEFGHIJKLMNOPQ")
                  .callsign16,
              "\xF0\x9F\x87\xA9"
              "ABCDEFGHIJKLMNO");
}

TEST(PlayerStatePacket, BrokenCallsignBytesOnTheWire) {
    auto bytes = withCallsign("x").encodeBinary();
    const char* raw =
        "AB\xFF"
        "CD\xE0\x80"
        "E";  // stray byte, overlong lead
    std::memset(bytes.data() + 32, 0, 16);
    std::memcpy(bytes.data() + 32, raw, std::strlen(raw));
    EXPECT_EQ(decodedCallsign(bytes),
              "AB\xEF\xBF\xBD"
              "CD\xEF\xBF\xBD\xEF\xBF\xBD"
              "E");

    // A zero byte ends the name; what follows it is ignored.
    std::memcpy(bytes.data() + 32, "HI\0JUNK", 7);
    EXPECT_EQ(decodedCallsign(bytes), "HI");
}

TEST(PlayerStatePacket, SeatCodesAndFlagBits) {
    EXPECT_EQ(withCallsign("s", -1).flags, 0u);
    EXPECT_EQ(withCallsign("s", -1).warthogSeat(), -1);
    EXPECT_EQ(withCallsign("s", -5).flags, 0u);
    EXPECT_EQ(withCallsign("s", -5).warthogSeat(), -1);
    EXPECT_EQ(withCallsign("s", 9).flags, 7u << 2);
    EXPECT_EQ(withCallsign("s", 9).warthogSeat(), 6);
    EXPECT_EQ(withCallsign("s", 0).warthogSeat(), 0);
    EXPECT_EQ(withCallsign("s", 6).warthogSeat(), 6);
    // Extreme seats saturate instead of overflowing.
    EXPECT_EQ(withCallsign("s", std::numeric_limits<std::int64_t>::max()).warthogSeat(), 6);
    EXPECT_EQ(withCallsign("s", std::numeric_limits<std::int64_t>::min()).warthogSeat(), -1);

    auto bytes = withCallsign("s", 2).encodeBinary();
    bytes[28] = 0xFF;
    bytes[29] = bytes[30] = bytes[31] = 0xFF;
    const auto p = Packet::decodeBinary(bytes);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->flags, 0x1Fu);
    EXPECT_TRUE(p->carryingCore());
    EXPECT_TRUE(p->insideMercy());
    EXPECT_EQ(p->warthogSeat(), 6);
    // Re-encoding writes the reserved bits as zero.
    EXPECT_EQ(le32(p->encodeBinary(), 28), 0x1Fu);
}

TEST(PlayerStatePacket, RejectsShortOrForeignData) {
    const auto bytes = withCallsign("ECHO").encodeBinary();
    EXPECT_FALSE(Packet::decodeBinary(std::span(bytes).first(47)));
    EXPECT_FALSE(Packet::decodeBinary({}));
    auto foreign = bytes;
    foreign[0] = 'Q';
    EXPECT_FALSE(Packet::decodeBinary(foreign));
    auto longer = bytes;
    longer.resize(70, 0xAB);
    const auto p = Packet::decodeBinary(longer);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->callsign16, "ECHO");
}

TEST(PlayerStatePacket, FloatsTravelBitExact) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Packet p(0xFFFFFFFFu, Float3{-0.0f, std::numeric_limits<float>::denorm_min(), 3e38f}, nan,
                   -std::numeric_limits<float>::infinity(), false, true, 3, "N");
    const auto bytes = p.encodeBinary();
    const auto back = Packet::decodeBinary(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->seq, 0xFFFFFFFFu);
    EXPECT_EQ(back->encodeBinary(), bytes);
    EXPECT_TRUE(std::signbit(back->posX));
    EXPECT_TRUE(std::isnan(back->yaw));
    EXPECT_FALSE(*back == p);  // a NaN member compares unequal, as floats do
}

// Peers read these bytes: broken UTF-8 becomes U+FFFD, controls are escaped, floats are shortest.
TEST(RemoteCoopAvatar, JsonBytesForOddValues) {
    const OruRemoteCoopAvatarV1170 a("bad\xff\xfe", "\x01\x1f\x7f", Float3{-0.0f, 1e-45f, 3.4028235e38f},
                                     -1.5f, false, -1, true, 0.0f, Float3{});
    EXPECT_EQ(a.toJSON(),
              "{\"id\":\"bad\xef\xbf\xbd\xef\xbf\xbd\",\"callsign\":\"\\u0001\\u001f\x7f\","
              "\"worldPos\":[-0,1e-45,3.4028235e+38],\"yaw\":-1.5,\"carryingConEdCore\":false,"
              "\"inWarthogSeat\":-1,\"isIndoorsMercy\":true,\"voiceRMS\":0,\"accentRGB\":[0,0,0]}");
}

TEST(RemoteCoopAvatar, KeyedJsonRoundTrip) {
    const OruRemoteCoopAvatarV1170 a("Ayla's \"Mac\"\n", "TARIN-M6", Float3{-17.5f, 5.5f, -71.2f}, 1.42f,
                                     true, 1, false, 0.64f, Float3{0.18f, 0.92f, 1.0f});
    const std::string json = a.toJSON();
    EXPECT_EQ(json,
              "{\"id\":\"Ayla's \\\"Mac\\\"\\n\",\"callsign\":\"TARIN-M6\",\"worldPos\":[-17.5,5.5,-71.2],"
              "\"yaw\":1.42,\"carryingConEdCore\":true,\"inWarthogSeat\":1,\"isIndoorsMercy\":false,"
              "\"voiceRMS\":0.64,\"accentRGB\":[0.18,0.92,1]}");
    const auto back = OruRemoteCoopAvatarV1170::fromJSON(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, a);

    // Keys in another order, with spaces and escapes, read the same.
    const auto reordered = OruRemoteCoopAvatarV1170::fromJSON(
        " { \"accentRGB\" : [0.18, 0.92, 1.0], \"voiceRMS\": 0.64, \"isIndoorsMercy\": false,"
        " \"inWarthogSeat\": 1, \"carryingConEdCore\": true, \"yaw\": 1.42, \"worldPos\": [-17.5, 5.5, "
        "-71.2],"
        " \"callsign\": \"TARIN\\u002DM6\", \"id\": \"Ayla's \\\"Mac\\\"\\n\" } ");
    ASSERT_TRUE(reordered);
    EXPECT_EQ(*reordered, a);
}

TEST(RemoteCoopAvatar, RejectsWhatItCannotRepresent) {
    OruRemoteCoopAvatarV1170 a;
    a.id = "bot";
    a.yaw = std::numeric_limits<float>::infinity();
    EXPECT_THROW(a.toJSON(), vantry::creator::AvatarEncodingError);

    a.yaw = 0;
    const std::string good = a.toJSON();
    ASSERT_TRUE(OruRemoteCoopAvatarV1170::fromJSON(good));
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON(good.substr(0, good.size() - 1)));
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON(good + "x"));
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON("{}"));
    std::string missing = good;
    missing.replace(missing.find("\"yaw\":0,"), 8, "");
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON(missing));
    std::string twoLanes = good;
    twoLanes.replace(twoLanes.find("[0,0,0]"), 7, "[0,0]");
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON(twoLanes));
    std::string fractionalSeat = good;
    fractionalSeat.replace(fractionalSeat.find("\"inWarthogSeat\":-1"), 18, "\"inWarthogSeat\":1.5");
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON(fractionalSeat));
    std::string hugeFloat = good;
    hugeFloat.replace(hugeFloat.find("\"yaw\":0"), 7, "\"yaw\":1e300");
    EXPECT_FALSE(OruRemoteCoopAvatarV1170::fromJSON(hugeFloat));
}
