// The shots file's JSON: {"version": 1, "shots": [ {...}, ... ]}. Each shot names its set by
// id and its angle by number (0..3); gains, move duration and the presenter's place outside
// their ranges are clamped. Anything else out of shape (wrong types, unknown set or angle,
// missing members, more than nine shots, an empty or overlong name) fails the whole file, so a
// damaged file is never half read. Pure: no Qt, no platform headers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/shots/Shot.h"

namespace vantry::app::shots {

// The file's text (pretty, keys sorted). Throws json::EncodingError when a name or path is
// not valid UTF-8.
std::string encodeShots(const std::vector<Shot>& shots);

// `name` without the characters that would hide or disguise text where it shows: control
// characters (C0, DEL, C1) and the bidirectional marks, embeddings, overrides and isolates
// (U+200E, U+200F, U+202A..U+202E, U+2066..U+2069). Invalid UTF-8 is replaced.
std::string cleanShotName(std::string_view name);

// The shots of a file's text (names cleaned by cleanShotName); absent when the text is not a shots file, with
// the reason in *why (when given).
std::optional<std::vector<Shot>> decodeShots(std::string_view text, std::string* why = nullptr);

}  // namespace vantry::app::shots
