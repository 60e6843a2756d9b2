// Feeds arbitrary bytes to the raid-map decoder. A record that decodes must encode again
// and decode to an equal record (floats are written in their shortest round-trip form).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/Json.h"
#include "creator/ugc/OruUGCRaidMapRecordV1175.h"

using namespace vantry::creator;

namespace {

bool hasNaN(const OruUGCRaidMapRecordV1175& map) {
    for (const auto& p : map.placements) {
        if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z) || std::isnan(p.yawRad) ||
            std::isnan(p.scale))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto map = decodeRaidMap(bytes);
    if (!map) return 0;
    if (hasNaN(*map)) std::abort();  // JSON has no NaN; the decoder must never produce one
    for (const bool pretty : {true, false}) {
        const std::string text = pretty ? encodeRaidMapPretty(*map) : encodeRaidMapCompact(*map);
        const auto again = decodeRaidMap(text);
        if (!again || !(*again == *map)) std::abort();
    }
    return 0;
}
