// Replay clip decoder: any bytes either decode to none or to a clip whose re-encoding is exactly the
// bytes it was read from (with the pad bytes zeroed).
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(data, size);
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
