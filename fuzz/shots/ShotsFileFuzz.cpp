// Any bytes as the shots file. A text that decodes must hold at most nine shots, each with a
// name, values inside their ranges, and must come back unchanged through the writer; nothing
// may crash or read out of bounds.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/shots/ShotCodec.h"
#include "common/Json.h"
#include "studio/gpu/StudioCamera.h"

namespace {

bool within(float v, float lo, float hi) {
    return std::isfinite(v) && v >= lo && v <= hi;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry::app::shots;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto shots = decodeShots(text);
    if (!shots) return 0;
    if (shots->size() > kMaxShots) std::abort();
    for (const Shot& s : *shots) {
        if (s.name.empty() || s.name.size() > kMaxNameBytes) std::abort();
        if (!within(s.keyGain, kMinKeyGain, kMaxKeyGain) || !within(s.neonGain, kMinNeonGain, kMaxNeonGain) ||
            !within(s.ledBrightness, kMinLedBrightness, kMaxLedBrightness))
            std::abort();
        if (!within(s.moveSeconds, vantry::studio::camera::kMinMoveSeconds,
                    vantry::studio::camera::kMaxMoveSeconds))
            std::abort();
    }
    // What was read is written and read back the same.
    try {
        const auto again = decodeShots(encodeShots(*shots));
        if (!again || *again != *shots) std::abort();
    } catch (const vantry::json::EncodingError&) {
        // The reader accepted text the writer refuses: never, both want valid UTF-8.
        std::abort();
    }
    return 0;
}
