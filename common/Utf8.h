// The UTF-8 codec. Broken input has two policies: refuse it (decodeStrict, isValid) or
// replace every maximal ill-formed subsequence with one U+FFFD (decodeLenient,
// replaceInvalid). Overlong forms, surrogates and values above U+10FFFF are broken.
// Also: cutting a text to a number of user-perceived characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantry::utf8 {

// One decoded scalar: its value (U+FFFD when broken) and how many bytes it took.
struct Scalar {
    char32_t value = 0;
    std::size_t length = 0;
    bool valid = false;
};

// Decodes the sequence starting at bytes[i] (i < bytes.size()). A broken sequence takes
// the bytes of its maximal ill-formed prefix (at least one).
Scalar decodeOne(std::span<const std::uint8_t> bytes, std::size_t i);

inline std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Decodes bytes as UTF-8; every maximal ill-formed subsequence becomes one U+FFFD.
std::u32string decodeLenient(std::span<const std::uint8_t> bytes);
std::u32string decodeLenient(std::string_view text);

// Decodes text, or nothing when any of it is broken.
std::optional<std::u32string> decodeStrict(std::string_view text);

bool isValid(std::string_view text);

// text with every broken sequence replaced by U+FFFD (text itself when valid).
std::string replaceInvalid(std::string_view text);

// Appends one scalar; surrogates and values above U+10FFFF are written as U+FFFD.
void append(std::string& out, char32_t scalar);

std::string encode(std::u32string_view scalars);

// Counts user-perceived characters, stopping once stopAfter are complete; *endOfLast
// receives the index just past them. A character is a base scalar with what
// attaches to it: combining marks, variation selectors, emoji modifiers, scalars
// joined by U+200D, a CR LF pair, or a pair of regional indicators (a flag). This
// covers callsigns well; it is not the full Unicode segmentation algorithm.
std::size_t characterCount(std::u32string_view scalars, std::size_t stopAfter = SIZE_MAX,
                           std::size_t* endOfLast = nullptr);

// The first maxCharacters characters of text, broken sequences replaced by U+FFFD.
std::string prefixCharacters(std::string_view text, std::size_t maxCharacters);

}  // namespace vantry::utf8
