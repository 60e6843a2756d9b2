#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/coop-voice/OruLive3DProximityVoiceEngineV1170.h"
#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"
#include "tests/creator/coop-voice/FakeAudio.h"

using namespace vantry;
using namespace vantry::creator;
using Engine = OruLive3DProximityVoiceEngineV1170;
using Codec = OruIMAADPCMVoiceCodecV1170;

namespace {

std::vector<float> tone(std::size_t n, double rate, float amplitude, double hz = 440) {
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = amplitude * static_cast<float>(std::sin(2 * M_PI * hz * i / rate));
    return s;
}

struct EngineFixture : ::testing::Test {
    std::shared_ptr<fakes::FakeAudioBackend> backend = std::make_shared<fakes::FakeAudioBackend>();
    fakes::FakeAudioState& audio = *backend->state;
    Engine engine{backend};
    std::vector<std::vector<std::uint8_t>> packets;
    std::vector<float> levels;

    void listen() {
        engine.setOnEncodedVoicePacket([this](std::span<const std::uint8_t> p, float level) {
            packets.emplace_back(p.begin(), p.end());
            levels.push_back(level);
        });
    }
};

TEST(VoiceCapture, DecimationStepRoundsTheRateRatio) {
    struct {
        double rate;
        std::uint32_t step;
    } cases[] = {{48000, 3}, {44100, 3}, {16000, 1}, {8000, 1}, {24000, 2}, {96000, 6}, {0, 1}, {NAN, 1}};
    for (const auto& c : cases) EXPECT_EQ(Engine::decimationStep(c.rate), c.step) << c.rate;
}

TEST(VoiceCapture, GateLevelAndPacketSize) {
    VoiceCaptureScratch scratch;
    scratch.reserve(1024);
    const auto loud = tone(1024, 48000, 0.5f);
    ASSERT_TRUE(Engine::captureStep(loud.data(), 1024, 48000, scratch));
    EXPECT_EQ(scratch.mono.size(), 342u);
    EXPECT_EQ(scratch.packet.size(), 183u);
    EXPECT_EQ(Codec::decodeToFloat32(scratch.packet)->sampleRate, 16000.0);

    const std::vector<float> silence(1024, 0.0f);
    EXPECT_FALSE(Engine::captureStep(silence.data(), 1024, 48000, scratch));
    // Exactly at the gate: nothing.
    const std::vector<float> atGate(1024, 0.012f);
    EXPECT_FALSE(Engine::captureStep(atGate.data(), 1024, 16000, scratch));
    EXPECT_FALSE(Engine::captureStep(nullptr, 1024, 16000, scratch));
    EXPECT_FALSE(Engine::captureStep(loud.data(), 0, 16000, scratch));
}

TEST_F(EngineFixture, CaptureDeliversPacketsWithTheirLevel) {
    listen();
    engine.startLiveCaptureAndPlayback();
    ASSERT_TRUE(engine.isRunning());
    EXPECT_EQ(audio.tapBufferSize, 1024u);
    EXPECT_EQ(audio.connectedFormat, (platform::PcmFormat{16000, 2}));
    audio.capture(std::vector<float>(1024, 0.5f), 48000);  // RMS 0.5: level clamps at 1
    audio.capture(std::vector<float>(1024, 0.1f), 48000);  // level 0.6
    audio.capture(std::vector<float>(1024, 0.0f), 48000);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].size(), 183u);
    EXPECT_FLOAT_EQ(levels[0], 1.0f);
    EXPECT_NEAR(levels[1], 0.6f, 1e-5);
}

TEST_F(EngineFixture, StartAndStopAreIdempotent) {
    engine.stop();
    EXPECT_EQ(audio.stops, 0);
    engine.startLiveCaptureAndPlayback();
    engine.startLiveCaptureAndPlayback();
    EXPECT_EQ(audio.starts, 1);
    EXPECT_EQ(audio.tapInstalls, 1);
    engine.stop();
    engine.stop();
    EXPECT_EQ(audio.stops, 1);
    EXPECT_EQ(audio.tapRemovals, 1);
    EXPECT_FALSE(engine.isRunning());
}

TEST_F(EngineFixture, NoInputStillPlaysNoOutputRunsNothing) {
    audio.input.reset();
    engine.startLiveCaptureAndPlayback();
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(audio.tapInstalls, 0);
    EXPECT_EQ(audio.plays, 1);
    engine.stop();

    auto silentBackend = std::make_shared<fakes::FakeAudioBackend>();
    silentBackend->state->hasOutput = false;
    Engine mute(silentBackend);
    mute.startLiveCaptureAndPlayback();
    EXPECT_FALSE(mute.isRunning());
    EXPECT_EQ(silentBackend->state->plays, 0);
}

TEST_F(EngineFixture, IngestQueuesTheSpatialMixAsStereo) {
    const auto voice = Codec::encodeFloat32Packet(tone(342, 16000, 0.4f), 16000);
    engine.ingestRemoteVoicePacket(voice, {0, 0, 0}, {1, 0, 0}, {3, 0, 0}, 0);
    EXPECT_TRUE(audio.queued.empty()) << "dropped while stopped";

    engine.startLiveCaptureAndPlayback();
    engine.ingestRemoteVoicePacket(voice, {0, 0, 0}, {1, 0, 0}, {3, 0, 0}, 0);
    ASSERT_EQ(audio.queued.size(), 1u);
    const auto& buffer = *audio.queued[0];
    EXPECT_EQ(buffer.format, (platform::PcmFormat{16000, 2}));
    EXPECT_EQ(buffer.frameLength, 342u);
    const auto decoded = Codec::decodeToFloat32(voice)->samples;
    const auto mix = OruSpatialProximityVoiceDSPV1020::spatializeMonoVoice(
        decoded, 16000, {0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {0, 0, 0}, 0, 0.24f, 32);
    for (std::size_t i = 0; i < 342; ++i) {
        ASSERT_EQ(buffer.channels[0][i], mix.stereoInterleavedPCM[2 * i]);
        ASSERT_EQ(buffer.channels[1][i], mix.stereoInterleavedPCM[2 * i + 1]);
    }
}

TEST_F(EngineFixture, IngestDropsStatePacketsGarbageAndRateZero) {
    engine.startLiveCaptureAndPlayback();
    auto zeroRate = Codec::encodeFloat32Packet(tone(100, 16000, 0.4f), 0);
    engine.ingestRemoteVoicePacket(zeroRate, {}, {1, 0, 0}, {1, 0, 0}, 0);
    engine.ingestRemoteVoicePacket(std::vector<std::uint8_t>(48, 0x50), {}, {1, 0, 0}, {1, 0, 0}, 0);
    engine.ingestRemoteVoicePacket({}, {}, {1, 0, 0}, {1, 0, 0}, 0);
    EXPECT_TRUE(audio.queued.empty());
}

TEST(VoiceSelfTest, ReportsTheReferenceValues) {
    const auto audit = Engine::runSelfTestLoopbackVerification();
    EXPECT_EQ(audit.rawPCMBytes, 1920);
    EXPECT_EQ(audit.adpcmPacketBytes, 492);
    EXPECT_DOUBLE_EQ(audit.compressionRatio, 3.9);
    EXPECT_FLOAT_EQ(audit.wallOccludedCutoffHz, 1126.4f);
    EXPECT_TRUE(audit.packetRoundTripOK);
    EXPECT_GE(audit.decodedSNRDB, 18.0);
    EXPECT_GT(audit.spatialRightRMS, 2 * audit.spatialLeftRMS);
    EXPECT_TRUE(audit.passed);
    const std::string json = audit.toJSON();
    EXPECT_EQ(
        json.rfind(
            "{\"rawPCMBytes\":1920,\"adpcmPacketBytes\":492,\"compressionRatio\":3.9,\"decodedSNRDB\":", 0),
        0u)
        << json;
    EXPECT_NE(json.find("\"wallOccludedCutoffHz\":1126.4,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"packetRoundTripOK\":true,\"passed\":true}"), std::string::npos);
}

// The audit's JSON is read by scripts: fixed key order, shortest numbers, null for non-finite ones.
TEST(VoiceLoopbackAudit, JsonIsByteStable) {
    const OruLiveVoiceLoopbackAuditV1170 audit{
        1920, 492, 3.9, std::nan(""), 0.001f, -std::numeric_limits<float>::infinity(), 1126.4f, true, false};
    EXPECT_EQ(audit.toJSON(),
              R"({"rawPCMBytes":1920,"adpcmPacketBytes":492,"compressionRatio":3.9,"decodedSNRDB":null,)"
              R"("spatialLeftRMS":0.001,"spatialRightRMS":null,"wallOccludedCutoffHz":1126.4,)"
              R"("packetRoundTripOK":true,"passed":false})");
}

}  // namespace
