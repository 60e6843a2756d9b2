#include "platform/symbols/SymbolGlyphs.h"

#include <algorithm>
#include <array>

namespace vantry::platform {
namespace {

// Keep sorted by symbol name (checked by the tests).
constexpr std::array kGlyphs{
    SymbolGlyph{"bolt.circle.fill", "offline_bolt", 0xE932},
    SymbolGlyph{"chevron.right.circle.fill", "arrow_circle_right", 0xEAAA},
    SymbolGlyph{"flame.fill", "local_fire_department", 0xEF55},
    SymbolGlyph{"icloud.fill", "cloud", 0xE2BD},
    SymbolGlyph{"mic.fill", "mic", 0xE029},
    SymbolGlyph{"mic.slash.fill", "mic_off", 0xE02B},
    SymbolGlyph{"minus.circle.fill", "remove_circle", 0xE15C},
    SymbolGlyph{"person.and.background.dotted", "blur_on", 0xE3A5},
    SymbolGlyph{"person.crop.circle.fill", "account_circle", 0xE853},
    SymbolGlyph{"person.crop.rectangle", "portrait", 0xE416},
    SymbolGlyph{"person.crop.rectangle.fill", "account_box", 0xE851},
    SymbolGlyph{"person.fill", "person", 0xE7FD},
    SymbolGlyph{"person.fill.checkmark", "how_to_reg", 0xE174},
    SymbolGlyph{"plus.circle.fill", "add_circle", 0xE147},
    // A ring with a dot inside: the record symbol, not an empty ring.
    SymbolGlyph{"record.circle", "radio_button_checked", 0xE837},
    SymbolGlyph{"record.circle.fill", "fiber_manual_record", 0xE061},
    SymbolGlyph{"scope", "gps_fixed", 0xE1B3},
    SymbolGlyph{"sparkles.tv.fill", "live_tv", 0xE639},
    SymbolGlyph{"speaker.slash.fill", "volume_off", 0xE04F},
    SymbolGlyph{"square.on.circle", "category", 0xE574},
    SymbolGlyph{"tv.inset.filled", "tv", 0xE333},
    SymbolGlyph{"video", "videocam_off", 0xE04C},
    SymbolGlyph{"video.badge.waveform.fill", "videocam", 0xE04B},
    SymbolGlyph{"video.fill", "videocam", 0xE04B},
    SymbolGlyph{"waveform.circle.fill", "graphic_eq", 0xE1B8},
};

constexpr char32_t kUnknownGlyph = 0xE8FD;

}  // namespace

std::span<const SymbolGlyph> symbolGlyphs() {
    return kGlyphs;
}

const SymbolGlyph* findSymbolGlyph(std::string_view symbol) {
    const auto it = std::lower_bound(kGlyphs.begin(), kGlyphs.end(), symbol,
                                     [](const SymbolGlyph& g, std::string_view s) { return g.symbol < s; });
    if (it == kGlyphs.end() || it->symbol != symbol) return nullptr;
    return &*it;
}

char32_t symbolCodepoint(std::string_view symbol) {
    const SymbolGlyph* glyph = findSymbolGlyph(symbol);
    return glyph ? glyph->codepoint : kUnknownGlyph;
}

}  // namespace vantry::platform
