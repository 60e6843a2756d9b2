// The audio end of co-op proximity voice. Sending side: a microphone tap reduced to 16 kHz mono by
// plain decimation, gated on loudness, one voice packet per loud buffer. Receiving side: a squadmate's
// packet decoded, placed in 3D by the spatial voice mix and queued on a stereo 16 kHz player.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Vector.h"
#include "platform/audio-output/AudioGraph.h"

namespace vantry::creator {

struct OruLiveVoiceLoopbackAuditV1170 {
    std::int64_t rawPCMBytes = 0;
    std::int64_t adpcmPacketBytes = 0;
    double compressionRatio = 0;
    double decodedSNRDB = 0;
    float spatialLeftRMS = 0;
    float spatialRightRMS = 0;
    float wallOccludedCutoffHz = 0;
    bool packetRoundTripOK = false;
    bool passed = false;

    // One JSON object, keys equal to the field names. A non-finite number is written as null.
    std::string toJSON() const;
};

// What one captured block becomes: the decimated samples, their level and, when loud enough, a packet.
// The buffers keep their capacity between blocks.
struct VoiceCaptureScratch {
    std::vector<float> mono;
    std::vector<std::uint8_t> packet;
    float rms = 0;
    // Room for blocks of up to maxFrames input frames without allocating.
    void reserve(std::uint32_t maxFrames);
};

class OruLive3DProximityVoiceEngineV1170 {
  public:
    using VoicePacketCallback = std::function<void(std::span<const std::uint8_t> packet, float level)>;

    static constexpr double voiceSampleRate = 16000.0;
    static constexpr std::uint32_t tapBufferFrames = 1024;
    static constexpr float gateRMS = 0.012f;
    static constexpr float echoWetness = 0.24f;
    static constexpr float maxHearingRadius = 32.0f;

    explicit OruLive3DProximityVoiceEngineV1170(std::shared_ptr<platform::AudioBackend> backend);
    ~OruLive3DProximityVoiceEngineV1170();
    OruLive3DProximityVoiceEngineV1170(const OruLive3DProximityVoiceEngineV1170&) = delete;
    OruLive3DProximityVoiceEngineV1170& operator=(const OruLive3DProximityVoiceEngineV1170&) = delete;

    // Ignored while running. No input (or one without channels): no tap, playback still starts. An
    // output that cannot start leaves the engine not running.
    void startLiveCaptureAndPlayback();
    // Only while running: removes the tap, stops player and engine.
    void stop();
    bool isRunning() const { return isRunning_; }

    // Dropped unless running and the bytes are a voice packet. A packet whose sample rate cannot drive
    // the mix (0, for one) is muted: nothing is queued for it.
    void ingestRemoteVoicePacket(std::span<const std::uint8_t> packet, Float3 listenerPos,
                                 Float3 listenerRight, Float3 speakerPos, std::int64_t occludingWalls);

    // Called on the capture thread for every packet; the owner hops to its own thread. Set or replace
    // it from the owner's thread in either state; earlier callbacks stay alive until the engine goes.
    void setOnEncodedVoicePacket(VoicePacketCallback callback);
    bool hasOnEncodedVoicePacket() const;

    // The capture step on one block of the first channel's samples: decimate to about 16 kHz, measure
    // the level and, above the gate, encode a packet into scratch.packet. Returns whether a packet was
    // made. No allocation once scratch has room; no locking.
    static bool captureStep(const float* samples, std::uint32_t frameLength, double inputSampleRate,
                            VoiceCaptureScratch& scratch);
    // Input frames per kept sample: rate / 16000 rounded half away from zero, at least 1.
    static std::uint32_t decimationStep(double inputSampleRate);

    static OruLiveVoiceLoopbackAuditV1170 runSelfTestLoopbackVerification();

  private:
    struct CaptureState;

    std::shared_ptr<platform::AudioBackend> backend_;
    std::shared_ptr<platform::AudioEngine> audioEngine_;
    std::shared_ptr<platform::AudioPlayerNode> playerNode_;
    std::optional<platform::PcmFormat> stereoFormat_;
    bool isRunning_ = false;
    bool tapInstalled_ = false;
    std::shared_ptr<CaptureState> capture_;
};

}  // namespace vantry::creator
