#include "creator/coop-voice/OruLive3DProximityVoiceEngineV1170.h"

#include <cmath>
#include <type_traits>

#include "common/Json.h"
#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"
#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

namespace vantry::creator {

namespace {

using Codec = OruIMAADPCMVoiceCodecV1170;
using Mix = OruSpatialProximityVoiceDSPV1020;

double roundTo(double value, double scale) {
    return std::round(value * scale) / scale;
}

// Shortest text that reads back as the same value; null for what JSON cannot hold.
template <typename T>
void writeNumber(json::Writer& w, const char* key, T value) {
    w.key(key);
    if (!std::isfinite(value)) {
        w.null();
    } else if constexpr (std::is_same_v<T, float>) {
        w.rawNumber(json::formatFloat(value));
    } else {
        w.rawNumber(json::formatDouble(value));
    }
}

}  // namespace

std::string OruLiveVoiceLoopbackAuditV1170::toJSON() const {
    json::Writer w(false);
    w.beginObject();
    w.key("rawPCMBytes");
    w.rawNumber(std::to_string(rawPCMBytes));
    w.key("adpcmPacketBytes");
    w.rawNumber(std::to_string(adpcmPacketBytes));
    writeNumber(w, "compressionRatio", compressionRatio);
    writeNumber(w, "decodedSNRDB", decodedSNRDB);
    writeNumber(w, "spatialLeftRMS", spatialLeftRMS);
    writeNumber(w, "spatialRightRMS", spatialRightRMS);
    writeNumber(w, "wallOccludedCutoffHz", wallOccludedCutoffHz);
    w.key("packetRoundTripOK");
    w.boolean(packetRoundTripOK);
    w.key("passed");
    w.boolean(passed);
    w.endObject();
    return w.finish();
}

void VoiceCaptureScratch::reserve(std::uint32_t maxFrames) {
    mono.reserve(maxFrames);
    packet.reserve(Codec::headerBytes + maxFrames / 2 + 1);
}

// Shared between the engine (owner's thread) and the tap (capture thread). The tap holds it weakly.
struct OruLive3DProximityVoiceEngineV1170::CaptureState {
    VoiceCaptureScratch scratch;  // capture thread only
    std::atomic<const VoicePacketCallback*> callback{nullptr};
    std::vector<std::unique_ptr<VoicePacketCallback>> retired;  // owner's thread only; keeps callbacks alive
};

OruLive3DProximityVoiceEngineV1170::OruLive3DProximityVoiceEngineV1170(
    std::shared_ptr<platform::AudioBackend> backend)
    : backend_(std::move(backend)), capture_(std::make_shared<CaptureState>()) {
    capture_->scratch.reserve(8 * tapBufferFrames);
    if (backend_) {
        audioEngine_ = backend_->makeEngine();
        playerNode_ = backend_->makePlayerNode();
        stereoFormat_ = backend_->standardFormat(voiceSampleRate, 2);
    }
}

OruLive3DProximityVoiceEngineV1170::~OruLive3DProximityVoiceEngineV1170() {
    stop();
    if (audioEngine_ && tapInstalled_) audioEngine_->removeInputTap();
}

void OruLive3DProximityVoiceEngineV1170::setOnEncodedVoicePacket(VoicePacketCallback callback) {
    if (!callback) {
        capture_->callback.store(nullptr, std::memory_order_release);
        return;
    }
    // With no tap installed nothing can be running an older callback, so those can go.
    if (!tapInstalled_) {
        capture_->callback.store(nullptr, std::memory_order_release);
        capture_->retired.clear();
    }
    capture_->retired.push_back(std::make_unique<VoicePacketCallback>(std::move(callback)));
    capture_->callback.store(capture_->retired.back().get(), std::memory_order_release);
}

bool OruLive3DProximityVoiceEngineV1170::hasOnEncodedVoicePacket() const {
    return capture_->callback.load(std::memory_order_acquire) != nullptr;
}

std::uint32_t OruLive3DProximityVoiceEngineV1170::decimationStep(double inputSampleRate) {
    const double step = std::round(inputSampleRate / voiceSampleRate);  // halves away from zero
    if (!(step >= 1)) return 1;
    return step > 1e6 ? 1000000u : static_cast<std::uint32_t>(step);
}

bool OruLive3DProximityVoiceEngineV1170::captureStep(const float* samples, std::uint32_t frameLength,
                                                     double inputSampleRate, VoiceCaptureScratch& scratch) {
    scratch.mono.clear();
    scratch.packet.clear();
    scratch.rms = 0;
    if (!samples || frameLength == 0) return false;
    const std::uint32_t step = decimationStep(inputSampleRate);
    double sum = 0;
    for (std::uint32_t i = 0; i < frameLength; i += step) {
        const float s = samples[i];
        scratch.mono.push_back(s);
        sum += static_cast<double>(s) * s;
    }
    const float rms = static_cast<float>(std::sqrt(sum / static_cast<double>(scratch.mono.size())));
    scratch.rms = rms;
    if (!(rms > gateRMS)) return false;
    Codec::encodeFloat32PacketInto(scratch.mono, static_cast<std::uint16_t>(voiceSampleRate), scratch.packet);
    return true;
}

void OruLive3DProximityVoiceEngineV1170::startLiveCaptureAndPlayback() {
    if (isRunning_ || !audioEngine_ || !playerNode_ || !stereoFormat_) return;
    audioEngine_->attach(playerNode_);
    audioEngine_->connectToMainMixer(playerNode_, *stereoFormat_);

    const auto input = audioEngine_->inputFormat();
    if (input && input->sampleRate > 0 && input->channelCount >= 1) {
        std::weak_ptr<CaptureState> weak = capture_;
        audioEngine_->installInputTap(tapBufferFrames, *input, [weak](const platform::CapturedAudio& block) {
            const auto state = weak.lock();
            if (!state || !block.channels || block.channelCount < 1 || block.frameLength == 0) return;
            if (!captureStep(block.channels[0], block.frameLength, block.sampleRate, state->scratch)) return;
            if (const auto* callback = state->callback.load(std::memory_order_acquire))
                (*callback)(state->scratch.packet, std::min(state->scratch.rms * 6.0f, 1.0f));
        });
        tapInstalled_ = true;
    }
    try {
        audioEngine_->start();
    } catch (const platform::AudioError&) {
        return;  // no output: the engine stays not running
    }
    playerNode_->play();
    isRunning_ = true;
}

void OruLive3DProximityVoiceEngineV1170::stop() {
    if (!isRunning_) return;
    if (tapInstalled_) audioEngine_->removeInputTap();
    tapInstalled_ = false;
    playerNode_->stop();
    audioEngine_->stop();
    isRunning_ = false;
}

void OruLive3DProximityVoiceEngineV1170::ingestRemoteVoicePacket(std::span<const std::uint8_t> packet,
                                                                 Float3 listenerPos, Float3 listenerRight,
                                                                 Float3 speakerPos,
                                                                 std::int64_t occludingWalls) {
    if (!isRunning_) return;
    const auto decoded = Codec::decodeToFloat32(packet);
    if (!decoded) return;
    const auto rate = static_cast<float>(decoded->sampleRate);
    if (!Mix::isUsableSampleRate(rate)) return;  // a rate of 0 cannot drive the filter: muted
    const auto mix = Mix::spatializeMonoVoice(decoded->samples, rate, listenerPos, listenerRight, speakerPos,
                                              Float3{0, 0, 0}, occludingWalls, echoWetness, maxHearingRadius);
    const std::size_t frames = mix.stereoInterleavedPCM.size() / 2;
    if (frames == 0 || !stereoFormat_) return;
    auto buffer = backend_->makeBuffer(*stereoFormat_, frames);
    if (!buffer || buffer->channels.size() < 2) return;
    buffer->frameLength = static_cast<std::uint32_t>(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        buffer->channels[0][i] = mix.stereoInterleavedPCM[2 * i];
        buffer->channels[1][i] = mix.stereoInterleavedPCM[2 * i + 1];
    }
    playerNode_->scheduleBuffer(std::move(buffer));
}

OruLiveVoiceLoopbackAuditV1170 OruLive3DProximityVoiceEngineV1170::runSelfTestLoopbackVerification() {
    const auto wave = Mix::generateTestVoiceWave(420.0f, 0.06f, 16000.0f);
    const auto packet = Codec::encodeFloat32Packet(wave, 16000);
    const auto decodedPacket = Codec::decodeToFloat32(packet);
    const std::vector<float> decoded = decodedPacket ? decodedPacket->samples : std::vector<float>{};
    const double snr = Codec::measureSNRDB(wave, decoded);

    const auto mix = Mix::spatializeMonoVoice(decoded, 16000.0f, Float3{0, 0, 0}, Float3{1, 0, 0},
                                              Float3{5.2f, 0, -1}, Float3{0, 0, 0}, 0, 0.24f, 32.0f);

    const OruCoopPlayerStatePacketV1170 state(42, Float3{-17.5f, 5.5f, -71.2f}, 1.42f, 0.64f, true, true, 1,
                                              "TARIN-M6");
    const auto stateBytes = state.encodeBinary();
    const auto back = OruCoopPlayerStatePacketV1170::decodeBinary(stateBytes);

    OruLiveVoiceLoopbackAuditV1170 audit;
    audit.rawPCMBytes = static_cast<std::int64_t>(wave.size()) * 2;
    audit.adpcmPacketBytes = static_cast<std::int64_t>(packet.size());
    const double ratio = static_cast<double>(audit.rawPCMBytes) /
                         static_cast<double>(std::max<std::int64_t>(audit.adpcmPacketBytes, 1));
    audit.compressionRatio = roundTo(ratio, 100);
    audit.decodedSNRDB = roundTo(snr, 10);
    audit.spatialLeftRMS = mix.leftRMS;
    audit.spatialRightRMS = mix.rightRMS;
    audit.wallOccludedCutoffHz = static_cast<float>(11000.0 * 0.32 * 0.32);  // two walls: 1126.4
    audit.packetRoundTripOK = back.has_value() && *back == state && stateBytes.size() == 48;
    audit.passed = audit.packetRoundTripOK && ratio >= 3.4 && snr >= 18 && 2 * mix.leftRMS < mix.rightRMS;
    return audit;
}

}  // namespace vantry::creator
