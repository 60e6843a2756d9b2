// 32-bit float stereo WAV (IEEE float, RIFF) for listening to a synthesised loop.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vantry::creator {

// The whole file: RIFF header, an 18-byte "fmt " chunk (format 3), a "fact" chunk and interleaved data.
// Throws std::invalid_argument when the channels differ in length, the rate is not a positive whole
// number of hertz, or the data would not fit a RIFF file.
std::vector<std::uint8_t> encodeFloatStereoWav(std::span<const float> left, std::span<const float> right,
                                               std::uint32_t sampleRate);

}  // namespace vantry::creator
