// Small UTF-8 helpers for callsigns: lenient decoding with U+FFFD for broken
// sequences, and cutting a text to a number of characters (Unicode scalars).
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

// The first maxCharacters characters of text (broken sequences already replaced).
std::string prefixCharacters(std::string_view text, std::size_t maxCharacters);

}  // namespace vantry::utf8
