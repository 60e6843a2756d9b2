// The JSON reader and writer.
//
// Reading follows RFC 8259 exactly by default (UTF-8 input, no comments, no trailing
// commas, no NaN), keeps number texts unparsed so each caller decides how to read them,
// and bounds nesting so hostile input cannot exhaust the stack. ParseOptions relax or
// tighten it for callers that need that.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantry::json {

struct Value;
using Array = std::vector<Value>;
using Object = std::map<std::string, Value, std::less<>>;  // duplicate keys: the last one wins

struct Null {
    bool operator==(const Null&) const = default;
};

// A number as written in the document (already checked against the JSON grammar).
struct Number {
    std::string text;
    bool operator==(const Number&) const = default;
};

struct Value {
    std::variant<Null, bool, Number, std::string, Array, Object> data;

    const Object* object() const { return std::get_if<Object>(&data); }
    const Array* array() const { return std::get_if<Array>(&data); }
    const std::string* string() const { return std::get_if<std::string>(&data); }
    const Number* number() const { return std::get_if<Number>(&data); }
    const bool* boolean() const { return std::get_if<bool>(&data); }
};

// Deepest array/object nesting accepted by parse().
inline constexpr int kMaxDepth = 64;

struct ParseOptions {
    // Broken UTF-8 inside strings and lone surrogate escapes become U+FFFD instead of
    // failing the document (for texts from peers that may cut a character in half).
    bool replaceBrokenUtf8 = false;
    // A key given twice in one object fails the document instead of the last one winning.
    bool rejectDuplicateKeys = false;
};

// The whole text must be one JSON value (surrounding whitespace allowed); absent otherwise.
std::optional<Value> parse(std::string_view text, const ParseOptions& options = {});

// Number readers: absent when the text does not fit the type.
std::optional<float> toFloat(const Number& n);
std::optional<double> toDouble(const Number& n);  // absent when out of a double's range
std::optional<std::int64_t> toInt64(const Number& n);

// Members of an object by name: null (or absent) when missing or of another type.
const Value* member(const Object& object, std::string_view key);
const std::string* stringMember(const Object& object, std::string_view key);
const bool* boolMember(const Object& object, std::string_view key);
std::optional<double> numberMember(const Object& object, std::string_view key);

// Raised by the writer for values JSON cannot carry (non-finite floats, invalid UTF-8).
class EncodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Shortest decimal text that reads back as the same float ("0.4", "-56", "1.25").
std::string formatFloat(float value);
// The same for a double.
std::string formatDouble(double value);
// A double's shortest text with ".0" on whole numbers ("16.0", "1.25", "1e+21").
std::string formatDecimal(double value);
// A quoted, escaped JSON string; throws EncodingError when text is not valid UTF-8.
std::string quote(std::string_view text);

// Writes objects either compactly in insertion order, or pretty-printed
// ("key" : value, two-space indent) with keys sorted by byte order.
class Writer {
  public:
    explicit Writer(bool pretty);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);
    void string(std::string_view text);
    void rawNumber(std::string text);
    void boolean(bool value);
    void null();

    std::string finish();

  private:
    struct Node;
    void addValue(std::unique_ptr<Node> node);
    static void render(const Node& node, bool pretty, int indent, std::string& out);

    bool pretty_;
    std::unique_ptr<Node> root_;
    std::vector<Node*> stack_;
    std::string pendingKey_;
};

}  // namespace vantry::json
