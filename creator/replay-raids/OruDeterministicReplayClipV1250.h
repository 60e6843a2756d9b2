// Deterministic replay clips: quantised input frames and their compact little-endian binary form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantry::creator {

struct OruReplayInputFrameV1250 {
    std::uint16_t dtMs = 0;
    std::int8_t moveForwardQ = 0;
    std::int8_t moveStrafeQ = 0;
    std::int16_t yawDeltaQ = 0;
    std::uint8_t actionMask = 0;
    std::uint8_t pad = 0;

    OruReplayInputFrameV1250() = default;
    // Raw, already quantised fields.
    static OruReplayInputFrameV1250 raw(std::uint16_t dtMs, std::int8_t forwardQ, std::int8_t strafeQ,
                                        std::int16_t yawQ, std::uint8_t actionMask, std::uint8_t pad = 0);
    // Quantising constructor: axes × 100 and yaw (radians) × 1000, rounded half away from zero and
    // clamped to the field's range. A NaN input quantises to 0; infinities clamp to the nearer end.
    OruReplayInputFrameV1250(std::uint16_t dtMs, float moveForward, float moveStrafe, float yawDeltaRad,
                             std::uint8_t actionMask);

    friend bool operator==(const OruReplayInputFrameV1250&, const OruReplayInputFrameV1250&) = default;
};

// Thrown by the encoder for a clip the binary form cannot hold (more than 2^32 - 1 frames or
// bookmarks, or a bookmark tick above 4294967295).
class ReplayEncodingError : public std::length_error {
  public:
    using std::length_error::length_error;
};

struct OruDeterministicReplayClipV1250 {
    static constexpr std::uint32_t magic = 0x53505250u;  // "PRPS" little-endian
    static constexpr std::size_t headerSize = 20;
    static constexpr std::size_t frameSize = 8;
    static constexpr std::size_t bookmarkSize = 4;

    std::uint64_t seed = 0;
    std::string title;
    std::vector<OruReplayInputFrameV1250> frames;
    std::vector<std::int64_t> highlightTickBookmarks;

    // 20 + 8F + 4B bytes; negative ticks are written as 0. Throws ReplayEncodingError (see above).
    std::vector<std::uint8_t> encodeCompactBinary() const;
    // None for a short buffer, a foreign magic or a truncated body; trailing bytes are ignored and
    // every decoded pad is 0.
    static std::optional<OruDeterministicReplayClipV1250> decodeCompactBinary(
        std::span<const std::uint8_t> data, std::string title);

    friend bool operator==(const OruDeterministicReplayClipV1250&,
                           const OruDeterministicReplayClipV1250&) = default;
};

}  // namespace vantry::creator
