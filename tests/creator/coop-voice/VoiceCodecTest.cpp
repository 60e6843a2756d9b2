#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

using vantry::creator::OruIMAADPCMVoiceCodecV1170;
using Codec = OruIMAADPCMVoiceCodecV1170;

namespace {

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::vector<float> testTone() {
    return vantry::creator::OruSpatialProximityVoiceDSPV1020::generateTestVoiceWave(420.0f, 0.06f, 16000.0f);
}

}  // namespace

TEST(VoiceCodec, PacketSizesAndHeader) {
    EXPECT_TRUE(Codec::encodeFloat32Packet({}, 16000).empty());
    const std::vector<float> three = {0.25f, -0.5f, 0.75f};
    EXPECT_EQ(Codec::encodeFloat32Packet(std::span(three).first(1), 16000).size(), 12u);
    EXPECT_EQ(Codec::encodeFloat32Packet(std::span(three).first(2), 16000).size(), 13u);
    EXPECT_EQ(Codec::encodeFloat32Packet(three, 16000).size(), 13u);

    const auto tone = testTone();
    ASSERT_EQ(tone.size(), 960u);
    const auto packet = Codec::encodeFloat32Packet(tone, 16000);
    ASSERT_EQ(packet.size(), 492u);
    EXPECT_NEAR(1920.0 / static_cast<double>(packet.size()), 3.90, 0.005);
    EXPECT_EQ(std::memcmp(packet.data(), "CVPS", 4), 0);
    EXPECT_EQ(le16(packet, 4), 960);
    EXPECT_EQ(le16(packet, 6), 16000);
    EXPECT_EQ(static_cast<std::int16_t>(le16(packet, 8)), Codec::quantise(tone[0]));
    EXPECT_EQ(packet[10], 0);
    EXPECT_EQ(packet[11], 0);

    // The rate is written as given, any 16-bit value.
    EXPECT_EQ(le16(Codec::encodeFloat32Packet(three, 44100), 6), 44100);
    EXPECT_EQ(le16(Codec::encodeFloat32Packet(three, 0), 6), 0);
}

TEST(VoiceCodec, SingleSampleAndNibbleOrder) {
    const std::vector<float> one = {0.5f};
    const auto p1 = Codec::encodeFloat32Packet(one, 16000);
    const auto d1 = Codec::decodeToFloat32(p1);
    ASSERT_TRUE(d1);
    ASSERT_EQ(d1->samples.size(), 1u);
    EXPECT_EQ(d1->samples[0], 16383.0f / 32767.0f);
    EXPECT_EQ(d1->sampleRate, 16000.0);

    // 0 then full scale up then full scale down: first code 0b0111, second 0b1111.
    // Steps 7 then 16 give predictors 11 and 11 - 30 = -19.
    const std::vector<float> three = {0.0f, 1.0f, -1.0f};
    const auto p3 = Codec::encodeFloat32Packet(three, 8000);
    ASSERT_EQ(p3.size(), 13u);
    EXPECT_EQ(p3[12], 0xF7);
    const auto d3 = Codec::decodeToFloat32(p3);
    ASSERT_TRUE(d3);
    ASSERT_EQ(d3->samples.size(), 3u);
    EXPECT_EQ(d3->samples[1], 11.0f / 32767.0f);
    EXPECT_EQ(d3->samples[2], -19.0f / 32767.0f);

    // An odd number of codes leaves the last byte's high nibble zero.
    const std::vector<float> two = {0.0f, -1.0f};
    const auto p2 = Codec::encodeFloat32Packet(two, 8000);
    ASSERT_EQ(p2.size(), 13u);
    EXPECT_EQ(p2[12], 0x0F);
}

TEST(VoiceCodec, QuantisationCorners) {
    EXPECT_EQ(Codec::quantise(1.0f), 32767);
    EXPECT_EQ(Codec::quantise(-1.0f), -32767);
    EXPECT_EQ(Codec::quantise(-1.0001f), -32768);
    EXPECT_EQ(Codec::quantise(-1.00002f), -32767);  // within the last step, truncated toward zero
    EXPECT_EQ(Codec::quantise(2.0f), 32767);
    EXPECT_EQ(Codec::quantise(std::numeric_limits<float>::quiet_NaN()), 32767);
    EXPECT_EQ(Codec::quantise(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(Codec::quantise(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(Codec::quantise(0.99999f), 32766);
    EXPECT_EQ(Codec::quantise(-0.99999f), -32766);
    EXPECT_EQ(Codec::quantise(-0.00002f), 0);

    // The first sample travels verbatim in the header, so the corners show there.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> samples = {nan, -std::numeric_limits<float>::infinity(), nan};
    const auto packet = Codec::encodeFloat32Packet(samples, 16000);
    EXPECT_EQ(static_cast<std::int16_t>(le16(packet, 8)), 32767);
    const auto decoded = Codec::decodeToFloat32(packet);
    ASSERT_TRUE(decoded);
    for (float s : decoded->samples) {
        EXPECT_TRUE(std::isfinite(s));
        EXPECT_LE(std::fabs(s), 32768.0f / 32767.0f);
    }
}

TEST(VoiceCodec, CountSaturatesButEveryCodeIsWritten) {
    std::vector<float> many(70001);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = 0.4f * std::sin(static_cast<float>(i) * 0.05f);
    const auto packet = Codec::encodeFloat32Packet(many, 16000);
    EXPECT_EQ(packet.size(), 12u + 70000u / 2u);
    EXPECT_EQ(le16(packet, 4), 65535);
    const auto decoded = Codec::decodeToFloat32(packet);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->samples.size(), 65535u);
}

TEST(VoiceCodec, AbsentDecodesAndDamagedPackets) {
    const auto tone = testTone();
    auto packet = Codec::encodeFloat32Packet(tone, 16000);

    EXPECT_FALSE(Codec::decodeToFloat32(std::span(packet).first(11)));
    EXPECT_FALSE(Codec::decodeToFloat32({}));
    auto wrongMagic = packet;
    wrongMagic[3] = 'T';
    EXPECT_FALSE(Codec::decodeToFloat32(wrongMagic));
    auto zeroCount = packet;
    zeroCount[4] = zeroCount[5] = 0;
    EXPECT_FALSE(Codec::decodeToFloat32(zeroCount));

    // A header alone is a one-sample packet; a cut packet decodes to a prefix.
    const auto full = Codec::decodeToFloat32(packet);
    ASSERT_TRUE(full);
    ASSERT_EQ(full->samples.size(), 960u);
    const auto headerOnly = Codec::decodeToFloat32(std::span(packet).first(12));
    ASSERT_TRUE(headerOnly);
    EXPECT_EQ(headerOnly->samples.size(), 1u);
    const auto cut = Codec::decodeToFloat32(std::span(packet).first(20));
    ASSERT_TRUE(cut);
    ASSERT_EQ(cut->samples.size(), 17u);
    for (std::size_t i = 0; i < 17; ++i) EXPECT_EQ(cut->samples[i], full->samples[i]);

    // Trailing bytes past the count are ignored.
    auto longer = packet;
    longer.insert(longer.end(), 40, 0x77);
    const auto extra = Codec::decodeToFloat32(longer);
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->samples, full->samples);

    // The step-index byte is clamped to the table's end.
    auto high = packet;
    auto at88 = packet;
    high[10] = 200;
    at88[10] = 88;
    const auto dh = Codec::decodeToFloat32(high);
    const auto d88 = Codec::decodeToFloat32(at88);
    ASSERT_TRUE(dh && d88);
    EXPECT_EQ(dh->samples, d88->samples);
    EXPECT_NE(dh->samples, full->samples);
}

TEST(VoiceCodec, ToneRoundTripQuality) {
    const auto tone = testTone();
    const auto decoded = Codec::decodeToFloat32(Codec::encodeFloat32Packet(tone, 16000));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->samples.size(), tone.size());
    EXPECT_GE(Codec::measureSNRDB(tone, decoded->samples), 18.0);
    for (float s : decoded->samples) EXPECT_LE(std::fabs(s), 1.0f);
}

TEST(VoiceCodec, SignalToNoise) {
    const std::vector<float> a = {0.5f, -0.25f, 1.0f};
    EXPECT_EQ(Codec::measureSNRDB(a, a), 99.0);
    EXPECT_EQ(Codec::measureSNRDB({}, {}), 0.0);
    EXPECT_EQ(Codec::measureSNRDB(a, {}), 0.0);

    const std::vector<float> ones = {1.0f, 1.0f};
    const std::vector<float> halves = {0.5f, 0.5f, 7.0f, 9.0f};  // only the common prefix counts
    EXPECT_NEAR(Codec::measureSNRDB(ones, halves), 10.0 * std::log10(4.0), 1e-12);

    // Silence against noise: no signal, so minus infinity rather than a number.
    const std::vector<float> zeros = {0.0f, 0.0f};
    EXPECT_EQ(Codec::measureSNRDB(zeros, ones), -std::numeric_limits<double>::infinity());
    // Noise below the floor counts as none.
    const std::vector<float> tiny = {1.0f + 1e-7f, 1.0f};
    EXPECT_EQ(Codec::measureSNRDB(ones, tiny), 99.0);
}
