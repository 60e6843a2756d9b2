#include "common/Utf8.h"

namespace vantry::utf8 {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
}

Scalar decodeOne(std::span<const std::uint8_t> bytes, std::size_t i) {
    const std::size_t n = bytes.size();
    const std::uint8_t lead = bytes[i];
    if (lead < 0x80) return {lead, 1, true};
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
        return {kReplacement, 1, false};  // stray continuation or impossible lead byte
    }
    std::size_t j = i + 1;
    for (std::size_t k = 0; k < need; ++k, ++j) {
        const std::uint8_t lower = k == 0 ? lo : 0x80;
        const std::uint8_t upper = k == 0 ? hi : 0xBF;
        // The valid prefix so far counts as one error.
        if (j >= n || bytes[j] < lower || bytes[j] > upper) return {kReplacement, j - i, false};
        cp = (cp << 6) | (bytes[j] & 0x3F);
    }
    return {cp, j - i, true};
}

std::u32string decodeLenient(std::span<const std::uint8_t> bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Scalar s = decodeOne(bytes, i);
        out.push_back(s.value);
        i += s.length;
    }
    return out;
}

std::u32string decodeLenient(std::string_view text) {
    return decodeLenient(asBytes(text));
}

std::optional<std::u32string> decodeStrict(std::string_view text) {
    const auto bytes = asBytes(text);
    std::u32string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Scalar s = decodeOne(bytes, i);
        if (!s.valid) return std::nullopt;
        out.push_back(s.value);
        i += s.length;
    }
    return out;
}

bool isValid(std::string_view text) {
    const auto bytes = asBytes(text);
    for (std::size_t i = 0; i < bytes.size();) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const Scalar s = decodeOne(bytes, i);
        if (!s.valid) return false;
        i += s.length;
    }
    return true;
}

std::string replaceInvalid(std::string_view text) {
    return isValid(text) ? std::string(text) : encode(decodeLenient(text));
}

void append(std::string& out, char32_t c) {
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

std::string encode(std::u32string_view scalars) {
    std::string out;
    out.reserve(scalars.size());
    for (char32_t c : scalars) append(out, c);
    return out;
}

namespace {

bool isRegionalIndicator(char32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Scalars that never start a character of their own: combining marks, joiners,
// variation selectors and emoji modifiers.
bool extendsPrevious(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x0483 && c <= 0x0489) || (c >= 0x0591 && c <= 0x05BD) ||
           (c >= 0x0610 && c <= 0x061A) || (c >= 0x064B && c <= 0x065F) || (c >= 0x0900 && c <= 0x0903) ||
           (c >= 0x093A && c <= 0x094F) || (c >= 0x0E31 && c <= 0x0E3A && c != 0x0E32 && c != 0x0E33) ||
           (c >= 0x0E47 && c <= 0x0E4E) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
           c == 0x200C || c == 0x200D || (c >= 0x20D0 && c <= 0x20FF) || (c >= 0x302A && c <= 0x302F) ||
           c == 0x3099 || c == 0x309A || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) ||
           (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F) || (c >= 0xE0100 && c <= 0xE01EF);
}

}  // namespace

std::size_t characterCount(std::u32string_view scalars, std::size_t stopAfter, std::size_t* endOfLast) {
    std::size_t count = 0;
    std::size_t i = 0;
    bool pendingRegional = false;  // an unpaired flag letter starts the current character
    while (i < scalars.size()) {
        const char32_t c = scalars[i];
        bool joins = false;
        if (i > 0) {
            const char32_t prev = scalars[i - 1];
            joins = extendsPrevious(c) || prev == 0x200D || (prev == U'\r' && c == U'\n') ||
                    (pendingRegional && isRegionalIndicator(c));
        }
        if (!joins) {
            if (count == stopAfter) break;
            ++count;
            pendingRegional = isRegionalIndicator(c);
        } else if (isRegionalIndicator(c)) {
            pendingRegional = false;  // the pair is complete
        }
        ++i;
    }
    if (endOfLast) *endOfLast = i;
    return count;
}

std::string prefixCharacters(std::string_view text, std::size_t maxCharacters) {
    std::u32string scalars = decodeLenient(text);
    std::size_t end = 0;
    characterCount(scalars, maxCharacters, &end);
    scalars.resize(end);
    return encode(scalars);
}

}  // namespace vantry::utf8
