#include "creator/coop-voice/Utf8Text.h"

namespace vantry::utf8 {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
}

std::u32string decodeLenient(std::span<const std::uint8_t> bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t need = 0;
        char32_t cp = 0;
        std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0) lo = 0xA0;  // no overlong forms
            if (lead == 0xED) hi = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            cp = lead & 0x07;
            if (lead == 0xF0) lo = 0x90;  // no overlong forms
            if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            out.push_back(kReplacement);  // stray continuation or impossible lead byte
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (std::size_t k = 0; k < need; ++k, ++j) {
            const std::uint8_t lower = k == 0 ? lo : 0x80;
            const std::uint8_t upper = k == 0 ? hi : 0xBF;
            if (j >= n || bytes[j] < lower || bytes[j] > upper) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (bytes[j] & 0x3F);
        }
        if (ok) {
            out.push_back(cp);
        } else {
            out.push_back(kReplacement);  // the valid prefix so far counts as one error
        }
        i = j;
    }
    return out;
}

std::string encode(std::u32string_view scalars) {
    std::string out;
    out.reserve(scalars.size());
    for (char32_t c : scalars) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string prefixCharacters(std::string_view text, std::size_t maxCharacters) {
    std::u32string scalars = decodeLenient(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (scalars.size() > maxCharacters) scalars.resize(maxCharacters);
    return encode(scalars);
}

}  // namespace vantry::utf8
