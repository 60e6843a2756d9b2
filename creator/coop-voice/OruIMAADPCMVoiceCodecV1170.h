// Voice packets: one block of mono float samples compressed with IMA ADPCM
// (4 bits per sample) behind a 12-byte header that carries the first sample
// verbatim. Every packet starts from a fresh codec state.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantry::creator {

// The samples and the sample rate read back from one voice packet.
struct DecodedVoicePacket {
    std::vector<float> samples;
    double sampleRate = 0;
};

class OruIMAADPCMVoiceCodecV1170 {
  public:
    OruIMAADPCMVoiceCodecV1170() = delete;

    // Little-endian on the wire: the first four bytes read "CVPS".
    static constexpr std::uint32_t packetMagic = 0x53505643;
    static constexpr std::size_t headerBytes = 12;
    static constexpr std::uint32_t maxCountField = 65535;

    // The published IMA/DVI tables.
    static const std::array<std::int32_t, 89>& stepTable();
    static const std::array<std::int32_t, 16>& indexTable();

    // Float sample to 16-bit: x * 32767, +inf and NaN to 32767, -inf to -32768,
    // truncated toward zero.
    static std::int32_t quantise(float sample);

    // Empty input gives empty bytes; otherwise 12 + n/2 bytes.
    static std::vector<std::uint8_t> encodeFloat32Packet(std::span<const float> samples,
                                                         std::uint16_t sampleRate);
    // The same bytes written into out, which keeps its capacity: no allocation once out has room for
    // 12 + n/2 bytes.
    static void encodeFloat32PacketInto(std::span<const float> samples, std::uint16_t sampleRate,
                                        std::vector<std::uint8_t>& out);

    // Absent for fewer than 12 bytes, a wrong magic or a zero sample count. A short
    // packet decodes to fewer samples.
    static std::optional<DecodedVoicePacket> decodeToFloat32(std::span<const std::uint8_t> data);

    // Signal-to-noise ratio of a round trip in dB over the common prefix: 0.0 when
    // either is empty, 99.0 when the noise is negligible.
    static double measureSNRDB(std::span<const float> original, std::span<const float> decoded);
};

}  // namespace vantry::creator
