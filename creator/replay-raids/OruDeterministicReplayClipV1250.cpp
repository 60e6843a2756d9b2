#include "creator/replay-raids/OruDeterministicReplayClipV1250.h"

#include <cmath>
#include <limits>

namespace vantry::creator {

namespace {

template <typename T>
T quantise(float value, float scale) {
    const float scaled = value * scale;
    if (std::isnan(scaled)) return 0;
    const float rounded = std::round(scaled);  // halves away from zero
    constexpr float lo = static_cast<float>(std::numeric_limits<T>::min());
    constexpr float hi = static_cast<float>(std::numeric_limits<T>::max());
    if (rounded <= lo) return std::numeric_limits<T>::min();
    if (rounded >= hi) return std::numeric_limits<T>::max();
    return static_cast<T>(rounded);
}

void putU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 0; s < 32; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}
void putU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int s = 0; s < 64; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}
std::uint16_t getU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t getU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
std::uint64_t getU64(const std::uint8_t* p) {
    return std::uint64_t(getU32(p)) | (std::uint64_t(getU32(p + 4)) << 32);
}

}  // namespace

OruReplayInputFrameV1250 OruReplayInputFrameV1250::raw(std::uint16_t dtMs, std::int8_t forwardQ,
                                                       std::int8_t strafeQ, std::int16_t yawQ,
                                                       std::uint8_t actionMask, std::uint8_t pad) {
    OruReplayInputFrameV1250 f;
    f.dtMs = dtMs;
    f.moveForwardQ = forwardQ;
    f.moveStrafeQ = strafeQ;
    f.yawDeltaQ = yawQ;
    f.actionMask = actionMask;
    f.pad = pad;
    return f;
}

OruReplayInputFrameV1250::OruReplayInputFrameV1250(std::uint16_t dtMs_, float moveForward, float moveStrafe,
                                                   float yawDeltaRad, std::uint8_t actionMask_)
    : dtMs(dtMs_),
      moveForwardQ(quantise<std::int8_t>(moveForward, 100.0f)),
      moveStrafeQ(quantise<std::int8_t>(moveStrafe, 100.0f)),
      yawDeltaQ(quantise<std::int16_t>(yawDeltaRad, 1000.0f)),
      actionMask(actionMask_),
      pad(0) {}

std::vector<std::uint8_t> OruDeterministicReplayClipV1250::encodeCompactBinary() const {
    constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint32_t>::max();
    if (frames.size() > kMaxCount)
        throw ReplayEncodingError("replay clip has too many frames for its binary form");
    if (highlightTickBookmarks.size() > kMaxCount)
        throw ReplayEncodingError("replay clip has too many bookmarks for its binary form");
    for (const auto tick : highlightTickBookmarks) {
        if (tick > static_cast<std::int64_t>(kMaxCount))
            throw ReplayEncodingError("replay bookmark tick " + std::to_string(tick) +
                                      " is beyond 4294967295");
    }

    std::vector<std::uint8_t> out;
    out.reserve(headerSize + frameSize * frames.size() + bookmarkSize * highlightTickBookmarks.size());
    putU32(out, magic);
    putU64(out, seed);
    putU32(out, static_cast<std::uint32_t>(frames.size()));
    putU32(out, static_cast<std::uint32_t>(highlightTickBookmarks.size()));
    for (const auto& f : frames) {
        putU16(out, f.dtMs);
        out.push_back(static_cast<std::uint8_t>(f.moveForwardQ));
        out.push_back(static_cast<std::uint8_t>(f.moveStrafeQ));
        putU16(out, static_cast<std::uint16_t>(f.yawDeltaQ));
        out.push_back(f.actionMask);
        out.push_back(f.pad);
    }
    for (const auto tick : highlightTickBookmarks)
        putU32(out, tick < 0 ? 0u : static_cast<std::uint32_t>(tick));
    return out;
}

std::optional<OruDeterministicReplayClipV1250> OruDeterministicReplayClipV1250::decodeCompactBinary(
    std::span<const std::uint8_t> data, std::string title) {
    if (data.size() < headerSize) return std::nullopt;
    const std::uint8_t* p = data.data();
    if (getU32(p) != magic) return std::nullopt;
    const std::uint64_t seed = getU64(p + 4);
    const std::uint64_t frameCount = getU32(p + 12);
    const std::uint64_t bookmarkCount = getU32(p + 16);
    // 64-bit arithmetic: 20 + 8 * (2^32 - 1) + 4 * (2^32 - 1) cannot overflow.
    const std::uint64_t needed = headerSize + frameSize * frameCount + bookmarkSize * bookmarkCount;
    if (data.size() < needed) return std::nullopt;

    OruDeterministicReplayClipV1250 clip;
    clip.seed = seed;
    clip.title = std::move(title);
    clip.frames.reserve(frameCount);
    const std::uint8_t* f = p + headerSize;
    for (std::uint64_t i = 0; i < frameCount; ++i, f += frameSize) {
        clip.frames.push_back(OruReplayInputFrameV1250::raw(
            getU16(f), static_cast<std::int8_t>(f[2]), static_cast<std::int8_t>(f[3]),
            static_cast<std::int16_t>(getU16(f + 4)), f[6], 0));
    }
    clip.highlightTickBookmarks.reserve(bookmarkCount);
    for (std::uint64_t i = 0; i < bookmarkCount; ++i, f += bookmarkSize) {
        clip.highlightTickBookmarks.push_back(static_cast<std::int64_t>(getU32(f)));
    }
    return clip;
}

}  // namespace vantry::creator
