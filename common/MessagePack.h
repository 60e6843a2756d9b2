// MessagePack (https://msgpack.org) as the JSON values it can carry, both ways. Pure code.
//
// The reader takes one whole value: nil, booleans, integers, floats, UTF-8 strings, arrays and
// maps with string keys, nested at most json::kMaxDepth deep. Binary data, extension types,
// non-finite floats, broken UTF-8 and trailing bytes are refused, as are lengths longer than
// what is left of the input (so a hostile length cannot make it allocate). Integers become
// json::Number texts of their decimal value, floats their shortest text.
//
// The writer sends a number whose text is a whole number within 64 bits as an integer, any
// other as a float 64.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/Json.h"

namespace vantry::msgpack {

// Absent (with `error` saying why, when given) unless `bytes` is exactly one value.
std::optional<json::Value> decode(std::string_view bytes, std::string* error = nullptr);

// The value as MessagePack bytes. Throws json::EncodingError for a string that is not UTF-8 or a
// number text that does not read.
std::string encode(const json::Value& value);

}  // namespace vantry::msgpack
