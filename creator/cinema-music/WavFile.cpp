#include "creator/cinema-music/WavFile.h"

#include <cstring>
#include <stdexcept>
#include <string_view>

namespace vantry::creator {

namespace {
void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 0; s < 32; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}
void putTag(std::vector<std::uint8_t>& out, std::string_view tag) {
    out.insert(out.end(), tag.begin(), tag.end());
}
}  // namespace

std::vector<std::uint8_t> encodeFloatStereoWav(std::span<const float> left, std::span<const float> right,
                                               std::uint32_t sampleRate) {
    if (left.size() != right.size()) throw std::invalid_argument("WAV channels differ in length");
    if (sampleRate == 0) throw std::invalid_argument("WAV sample rate must be positive");
    constexpr std::uint64_t kHeader = 12 + 26 + 12 + 8;  // RIFF, fmt (18 + 8), fact, data header
    const std::uint64_t dataBytes = static_cast<std::uint64_t>(left.size()) * 8;
    if (kHeader + dataBytes > 0xFFFFFFFFull) throw std::invalid_argument("WAV data too long");

    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(kHeader + dataBytes));
    putTag(out, "RIFF");
    put32(out, static_cast<std::uint32_t>(kHeader - 8 + dataBytes));
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, 18);
    put16(out, 3);  // IEEE float
    put16(out, 2);
    put32(out, sampleRate);
    put32(out, sampleRate * 8);  // bytes per second
    put16(out, 8);               // block align
    put16(out, 32);
    put16(out, 0);  // no extension
    putTag(out, "fact");
    put32(out, 4);
    put32(out, static_cast<std::uint32_t>(left.size()));
    putTag(out, "data");
    put32(out, static_cast<std::uint32_t>(dataBytes));
    for (std::size_t i = 0; i < left.size(); ++i) {
        for (const float v : {left[i], right[i]}) {
            std::uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            put32(out, bits);
        }
    }
    return out;
}

}  // namespace vantry::creator
