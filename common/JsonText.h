#pragma once

#include <string>
#include <string_view>

namespace vantry::json {

// Appends text as a quoted JSON string: quote and backslash escaped, the five control characters
// with short forms as \b \f \n \r \t, every other byte below 0x20 as \u00XX. Bytes from 0x20 up
// pass through unchanged, so callers decide what to do with text that is not valid UTF-8.
void appendQuoted(std::string& out, std::string_view text);

// The same, as a new string.
std::string quotedText(std::string_view text);

}  // namespace vantry::json
