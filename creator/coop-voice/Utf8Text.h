// Small UTF-8 helpers for callsigns: lenient decoding with U+FFFD for broken
// sequences, and cutting a text to a number of user-perceived characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantry::utf8 {

// Decodes bytes as UTF-8; every maximal ill-formed subsequence becomes one U+FFFD.
std::u32string decodeLenient(std::span<const std::uint8_t> bytes);

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
