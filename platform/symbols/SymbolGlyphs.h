// One table from the symbol names the views use ("record.circle.fill" and so on)
// to glyphs of the Material Icons font, so every view draws the same icon for
// the same name. Pure data: no Qt.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace vantry::platform {

struct SymbolGlyph {
    std::string_view symbol;    // the name a view asks for
    std::string_view material;  // the Material Icons name of the glyph
    char32_t codepoint;         // its code point in MaterialIcons-Regular
};

// Every known symbol, sorted by name.
std::span<const SymbolGlyph> symbolGlyphs();

// The glyph for a symbol name, or nullptr when the name is unknown.
const SymbolGlyph* findSymbolGlyph(std::string_view symbol);

// The code point for a symbol name; an unknown name gives U+E8FD ("help_outline"),
// a visible question mark rather than an empty box.
char32_t symbolCodepoint(std::string_view symbol);

}  // namespace vantry::platform
