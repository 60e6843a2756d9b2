// Replay clip decoder: any bytes either decode to none or to a clip whose re-encoding is exactly the
// bytes it was read from (with the pad bytes zeroed). A decoded clip given a bookmark beyond 32 bits
// is refused by the encoder. Input frames quantised from the input's bytes read as floats keep to
// their fields' ranges, with NaN as 0.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "creator/replay-raids/OruDeterministicReplayClipV1250.h"

namespace {

void check(const std::uint8_t* data, std::size_t size) {
    using Clip = vantry::creator::OruDeterministicReplayClipV1250;
    const auto clip = Clip::decodeCompactBinary({data, size}, "fuzz");
    if (!clip) return;
    const auto again = clip->encodeCompactBinary();
    const std::size_t used = Clip::headerSize + Clip::frameSize * clip->frames.size() +
                             Clip::bookmarkSize * clip->highlightTickBookmarks.size();
    if (again.size() != used || used > size) std::abort();
    for (std::size_t i = 0; i < used; ++i) {
        const bool isPad = i >= Clip::headerSize &&
                           i < Clip::headerSize + Clip::frameSize * clip->frames.size() &&
                           (i - Clip::headerSize) % Clip::frameSize == 7;
        if (again[i] != (isPad ? 0 : data[i])) std::abort();
    }
    if (Clip::decodeCompactBinary(again, "fuzz") != clip) std::abort();
    if (!clip->highlightTickBookmarks.empty()) {
        auto beyond = *clip;
        beyond.highlightTickBookmarks.back() = 4294967296LL + data[0];
        try {
            (void)beyond.encodeCompactBinary();
            std::abort();
        } catch (const vantry::creator::ReplayEncodingError&) {
        }
    }
}

void quantised(const std::uint8_t* data, std::size_t size) {
    using Frame = vantry::creator::OruReplayInputFrameV1250;
    if (size < 15) return;
    float axes[3];
    std::memcpy(axes, data + 2, sizeof axes);
    const Frame frame(static_cast<std::uint16_t>(data[0] | data[1] << 8), axes[0], axes[1], axes[2],
                      data[14]);
    const auto expect = [](float value, float scale, long lo, long hi) -> long {
        if (std::isnan(value * scale)) return 0;
        return static_cast<long>(std::clamp<double>(std::round(double(value) * scale), lo, hi));
    };
    if (frame.moveForwardQ != expect(axes[0], 100, -128, 127) ||
        frame.moveStrafeQ != expect(axes[1], 100, -128, 127) ||
        frame.yawDeltaQ != expect(axes[2], 1000, -32768, 32767) || frame.pad != 0 ||
        frame.actionMask != data[14])
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(data, size);
    quantised(data, size);
    // The same bytes behind the right magic, so that random inputs also reach the body.
    if (size >= 4) {
        std::vector<std::uint8_t> copy(data, data + size);
        std::memcpy(copy.data(), "PRPS", 4);
        // Keep the promised counts small enough for the input to be whole now and then.
        if (size >= 20) copy[15] = copy[14] = copy[19] = copy[18] = 0;
        check(copy.data(), copy.size());
    }
    return 0;
}
