#include "creator/coop-voice/OruIMAADPCMVoiceCodecV1170.h"

#include <algorithm>
#include <cmath>

namespace vantry::creator {

namespace {

constexpr std::array<std::int32_t, 89> kStepTable = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr std::array<std::int32_t, 16> kIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// The shared reconstruction step: applies one 4-bit code to the predictor and index.
inline void applyCode(std::int32_t code, std::int32_t& predictor, std::int32_t& index) {
    const std::int32_t step = kStepTable[static_cast<std::size_t>(index)];
    std::int32_t delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    if (code & 8) delta = -delta;
    predictor = std::clamp(predictor + delta, -32768, 32767);
    index = std::clamp(index + kIndexTable[static_cast<std::size_t>(code)], 0, 88);
}

inline void putLE16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void putLE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

inline std::uint32_t readLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint16_t readLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

const std::array<std::int32_t, 89>& OruIMAADPCMVoiceCodecV1170::stepTable() {
    return kStepTable;
}
const std::array<std::int32_t, 16>& OruIMAADPCMVoiceCodecV1170::indexTable() {
    return kIndexTable;
}

std::int32_t OruIMAADPCMVoiceCodecV1170::quantise(float sample) {
    const float scaled = sample * 32767.0f;
    // A NaN fails the comparison and lands on 32767 with +inf.
    const float limited = scaled < 32767.0f ? std::max(scaled, -32768.0f) : 32767.0f;
    return static_cast<std::int32_t>(limited);
}

std::vector<std::uint8_t> OruIMAADPCMVoiceCodecV1170::encodeFloat32Packet(std::span<const float> samples,
                                                                          std::uint16_t sampleRate) {
    std::vector<std::uint8_t> out;
    encodeFloat32PacketInto(samples, sampleRate, out);
    return out;
}

void OruIMAADPCMVoiceCodecV1170::encodeFloat32PacketInto(std::span<const float> samples,
                                                         std::uint16_t sampleRate,
                                                         std::vector<std::uint8_t>& out) {
    out.clear();
    const std::size_t n = samples.size();
    if (n == 0) return;
    out.reserve(((n + 1) >> 1) + headerBytes);

    std::int32_t predictor = quantise(samples[0]);
    std::int32_t index = 0;
    putLE32(out, packetMagic);
    putLE16(out, static_cast<std::uint16_t>(std::min<std::size_t>(n, maxCountField)));
    putLE16(out, sampleRate);
    putLE16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(predictor)));
    out.push_back(0);  // initial step index
    out.push_back(0);  // reserved

    std::int32_t heldCode = -1;
    for (std::size_t k = 1; k < n; ++k) {
        std::int32_t diff = quantise(samples[k]) - predictor;
        std::int32_t code = 0;
        if (diff < 0) {
            code = 8;
            diff = -diff;
        }
        const std::int32_t step = kStepTable[static_cast<std::size_t>(index)];
        if (diff >= step) {
            code |= 4;
            diff -= step;
        }
        if (diff >= (step >> 1)) {
            code |= 2;
            diff -= step >> 1;
        }
        if (diff >= (step >> 2)) code |= 1;
        applyCode(code, predictor, index);

        if (heldCode < 0) {
            heldCode = code;
        } else {
            out.push_back(static_cast<std::uint8_t>((code << 4) | heldCode));
            heldCode = -1;
        }
    }
    if (heldCode >= 0) out.push_back(static_cast<std::uint8_t>(heldCode));
}

std::optional<DecodedVoicePacket> OruIMAADPCMVoiceCodecV1170::decodeToFloat32(
    std::span<const std::uint8_t> data) {
    if (data.size() < headerBytes) return std::nullopt;
    if (readLE32(data.data()) != packetMagic) return std::nullopt;
    const std::size_t count = readLE16(data.data() + 4);
    if (count == 0) return std::nullopt;

    DecodedVoicePacket result;
    result.sampleRate = static_cast<double>(readLE16(data.data() + 6));
    std::int32_t predictor = static_cast<std::int16_t>(readLE16(data.data() + 8));
    std::int32_t index = std::min<std::int32_t>(data[10], 88);

    const std::size_t codeBytes = data.size() - headerBytes;
    // Never more than the count asks for, nor more than the bytes can carry.
    result.samples.reserve(1 + std::min(count - 1, codeBytes * 2));
    result.samples.push_back(static_cast<float>(predictor) / 32767.0f);
    for (std::size_t b = headerBytes; b < data.size() && result.samples.size() < count; ++b) {
        const std::uint8_t byte = data[b];
        applyCode(byte & 0x0F, predictor, index);
        result.samples.push_back(static_cast<float>(predictor) / 32767.0f);
        if (result.samples.size() >= count) break;
        applyCode(byte >> 4, predictor, index);
        result.samples.push_back(static_cast<float>(predictor) / 32767.0f);
    }
    return result;
}

double OruIMAADPCMVoiceCodecV1170::measureSNRDB(std::span<const float> original,
                                                std::span<const float> decoded) {
    const std::size_t n = std::min(original.size(), decoded.size());
    if (n == 0) return 0.0;
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = original[i];
        const double diff = original[i] - decoded[i];  // the difference in single precision
        signal += a * a;
        noise += diff * diff;
    }
    if (noise > 1e-12) return 10.0 * std::log10(signal / noise);
    return 99.0;
}

}  // namespace vantry::creator
