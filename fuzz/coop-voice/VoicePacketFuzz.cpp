// Any bytes as a received voice packet: decode it and, as the voice engine does,
// mix the samples at the rate its header claims. Nothing may crash, read out of
// bounds or let a sample outside -1..1 (or NaN) through.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"
#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Codec = vantry::creator::OruIMAADPCMVoiceCodecV1170;
    using Dsp = vantry::creator::OruSpatialProximityVoiceDSPV1020;
    const auto decoded = Codec::decodeToFloat32(std::span<const std::uint8_t>(data, size));
    if (!decoded) return 0;
    const std::size_t count = static_cast<std::size_t>(data[4] | (data[5] << 8));
    if (decoded->samples.empty() || decoded->samples.size() > count) std::abort();
    if (decoded->samples.size() > 1 + 2 * (size - 12)) std::abort();
    for (float s : decoded->samples)
        if (!(std::fabs(s) <= 32768.0f / 32767.0f)) std::abort();

    const auto mix = Dsp::spatializeMonoVoice(decoded->samples, static_cast<float>(decoded->sampleRate),
                                              vantry::Float3{0, 0, 0}, vantry::Float3{1, 0, 0},
                                              vantry::Float3{2.5f, 0, -2.5f}, vantry::Float3{0, 0, 0},
                                              data[11] % 4, 0.24f, 32.0f);
    if (mix.stereoInterleavedPCM.size() != 2 * decoded->samples.size()) std::abort();
    for (float s : mix.stereoInterleavedPCM)
        if (!(std::fabs(s) <= 1.0f)) std::abort();
    if (!std::isfinite(mix.leftRMS) || !std::isfinite(mix.rightRMS) || !std::isfinite(mix.echoEnergy))
        std::abort();

    // Re-encoding the decoded samples must give a packet that decodes again, with a
    // signal-to-noise ratio that is a number.
    const auto again =
        Codec::encodeFloat32Packet(decoded->samples, static_cast<std::uint16_t>(decoded->sampleRate));
    const auto back = Codec::decodeToFloat32(again);
    if (!back || back->samples.size() != decoded->samples.size()) std::abort();
    if (std::isnan(Codec::measureSNRDB(decoded->samples, back->samples))) std::abort();
    return 0;
}
