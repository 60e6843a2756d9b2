#include "common/Json.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <system_error>

#include "common/JsonText.h"
#include "common/Utf8.h"

namespace vantry::json {
namespace {

class Parser {
  public:
    Parser(std::string_view text, const ParseOptions& options) : s_(text), options_(options) {}

    std::optional<Value> document() {
        skipSpace();
        auto v = value(0);
        if (!v) return std::nullopt;
        skipSpace();
        if (pos_ != s_.size()) return std::nullopt;
        return v;
    }

  private:
    bool atEnd() const { return pos_ >= s_.size(); }
    char peek() const { return s_[pos_]; }

    void skipSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
    }

    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    std::optional<Value> value(int depth) {
        if (atEnd()) return std::nullopt;
        switch (peek()) {
            case '{':
                return object(depth + 1);
            case '[':
                return array(depth + 1);
            case '"': {
                auto str = string();
                if (!str) return std::nullopt;
                return Value{std::move(*str)};
            }
            case 't':
                if (literal("true")) return Value{true};
                return std::nullopt;
            case 'f':
                if (literal("false")) return Value{false};
                return std::nullopt;
            case 'n':
                if (literal("null")) return Value{Null{}};
                return std::nullopt;
            default:
                return number();
        }
    }

    std::optional<Value> object(int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        ++pos_;  // '{'
        Object members;
        skipSpace();
        if (!atEnd() && peek() == '}') {
            ++pos_;
            return Value{std::move(members)};
        }
        for (;;) {
            skipSpace();
            if (atEnd() || peek() != '"') return std::nullopt;
            auto name = string();
            if (!name) return std::nullopt;
            skipSpace();
            if (atEnd() || peek() != ':') return std::nullopt;
            ++pos_;
            skipSpace();
            auto member = value(depth);
            if (!member) return std::nullopt;
            if (options_.rejectDuplicateKeys) {
                if (!members.emplace(std::move(*name), std::move(*member)).second) return std::nullopt;
            } else {
                members.insert_or_assign(std::move(*name), std::move(*member));
            }
            skipSpace();
            if (atEnd()) return std::nullopt;
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return Value{std::move(members)};
            }
            return std::nullopt;
        }
    }

    std::optional<Value> array(int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        ++pos_;  // '['
        Array items;
        skipSpace();
        if (!atEnd() && peek() == ']') {
            ++pos_;
            return Value{std::move(items)};
        }
        for (;;) {
            skipSpace();
            auto item = value(depth);
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
            skipSpace();
            if (atEnd()) return std::nullopt;
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return Value{std::move(items)};
            }
            return std::nullopt;
        }
    }

    std::optional<std::uint32_t> hex4() {
        if (pos_ + 4 > s_.size()) return std::nullopt;
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return v;
    }

    std::optional<std::string> string() {
        ++pos_;  // opening quote
        std::string out;
        for (;;) {
            if (atEnd()) return std::nullopt;
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                if (c < 0x80) {
                    out += static_cast<char>(c);
                    ++pos_;
                    continue;
                }
                const utf8::Scalar scalar = utf8::decodeOne(utf8::asBytes(s_), pos_);
                if (!scalar.valid && !options_.replaceBrokenUtf8) return std::nullopt;
                utf8::append(out, scalar.value);
                pos_ += scalar.length;
                continue;
            }
            ++pos_;
            if (atEnd()) return std::nullopt;
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    auto cp = hex4();
                    if (!cp) return std::nullopt;
                    if (*cp >= 0xD800 && *cp <= 0xDBFF) {
                        const std::size_t save = pos_;
                        std::optional<std::uint32_t> low;
                        if (literal("\\u")) low = hex4();
                        if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                            *cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
                        } else {
                            if (!options_.replaceBrokenUtf8) return std::nullopt;
                            pos_ = save;  // the high half stands alone; what follows is read again
                        }
                    }
                    // A lone surrogate is refused, or written as U+FFFD by append().
                    if (*cp >= 0xD800 && *cp <= 0xDFFF && !options_.replaceBrokenUtf8) return std::nullopt;
                    utf8::append(out, static_cast<char32_t>(*cp));
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
    }

    bool digits() {
        const std::size_t start = pos_;
        while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
        return pos_ > start;
    }

    std::optional<Value> number() {
        const std::size_t start = pos_;
        if (!atEnd() && peek() == '-') ++pos_;
        if (atEnd()) return std::nullopt;
        if (peek() == '0') {
            ++pos_;
        } else if (!digits()) {
            return std::nullopt;
        }
        if (!atEnd() && peek() == '.') {
            ++pos_;
            if (!digits()) return std::nullopt;
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!atEnd() && (peek() == '+' || peek() == '-')) ++pos_;
            if (!digits()) return std::nullopt;
        }
        return Value{Number{std::string(s_.substr(start, pos_ - start))}};
    }

    std::string_view s_;
    ParseOptions options_;
    std::size_t pos_ = 0;
};

// Decimal order of magnitude of a grammar-checked number text, saturated: positive when
// its absolute value is at least 1, zero or negative when it is below 1.
long long decimalMagnitude(std::string_view text) {
    std::size_t i = text[0] == '-' ? 1 : 0;
    long long intDigits = 0;
    long long leadingFractionZeros = 0;
    bool seenNonZero = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (text[i] != '0') seenNonZero = true;
        if (seenNonZero) ++intDigits;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (text[i] != '0') seenNonZero = true;
            if (!seenNonZero) ++leadingFractionZeros;
        }
    }
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
        for (; i < text.size(); ++i) {
            exponent = std::min<long long>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
        }
        if (negative) exponent = -exponent;
    }
    if (!seenNonZero) return -1'000'000'000;
    return (intDigits > 0 ? intDigits : -leadingFractionZeros) + exponent;
}

}  // namespace

std::optional<Value> parse(std::string_view text, const ParseOptions& options) {
    return Parser(text, options).document();
}

std::optional<double> toDouble(const Number& n) {
    const char* first = n.text.data();
    const char* last = first + n.text.size();
    double d = 0;
    auto [ptr, ec] = std::from_chars(first, last, d);
    if (ec == std::errc() && ptr == last) return d;
    if (ec != std::errc::result_out_of_range || ptr != last) return std::nullopt;
    if (decimalMagnitude(n.text) > 0) return std::nullopt;
    return n.text[0] == '-' ? -0.0 : 0.0;
}

const Value* member(const Object& object, std::string_view key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

const std::string* stringMember(const Object& object, std::string_view key) {
    const Value* v = member(object, key);
    return v ? v->string() : nullptr;
}

const bool* boolMember(const Object& object, std::string_view key) {
    const Value* v = member(object, key);
    return v ? v->boolean() : nullptr;
}

std::optional<double> numberMember(const Object& object, std::string_view key) {
    const Value* v = member(object, key);
    return v && v->number() ? toDouble(*v->number()) : std::nullopt;
}

std::optional<float> toFloat(const Number& n) {
    const char* first = n.text.data();
    const char* last = first + n.text.size();
    float f = 0;
    auto [ptr, ec] = std::from_chars(first, last, f);
    if (ec == std::errc() && ptr == last) return f;
    if (ec != std::errc::result_out_of_range || ptr != last) return std::nullopt;
    // Out of range: a value too large for a float does not fit, one too small rounds to zero.
    if (decimalMagnitude(n.text) > 0) return std::nullopt;
    return n.text[0] == '-' ? -0.0f : 0.0f;
}

std::optional<std::int64_t> toInt64(const Number& n) {
    const char* first = n.text.data();
    const char* last = first + n.text.size();
    std::int64_t v = 0;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec == std::errc() && ptr == last) return v;
    // "412.0" or "4.12e2": accepted when the value is a whole number that fits.
    if (ptr != last && ec == std::errc()) {
        double d = 0;
        auto [dptr, dec] = std::from_chars(first, last, d);
        if (dec != std::errc() || dptr != last) return std::nullopt;
        if (d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

namespace {

template <typename T>
std::string shortestText(T value) {
    if (!std::isfinite(value)) throw EncodingError("a number is not finite and cannot be written as JSON");
    char buf[64];
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec != std::errc()) throw EncodingError("a number could not be written as JSON");
    return std::string(buf, ptr);
}

}  // namespace

std::string formatFloat(float value) {
    return shortestText(value);
}

std::string formatDouble(double value) {
    return shortestText(value);
}

std::string formatDecimal(double value) {
    std::string text = formatDouble(value);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

std::string quote(std::string_view text) {
    if (!utf8::isValid(text)) throw EncodingError("a text is not valid UTF-8 and cannot be written as JSON");
    return quotedText(text);
}

// ---- Writer ----

struct Writer::Node {
    enum class Kind { scalar, object, array } kind = Kind::scalar;
    std::string text;                                                    // scalar: its JSON text
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> members;  // object, insertion order
    std::vector<std::unique_ptr<Node>> items;                            // array
};

Writer::Writer(bool pretty) : pretty_(pretty) {}
Writer::~Writer() = default;

void Writer::addValue(std::unique_ptr<Node> node) {
    Node* raw = node.get();
    if (stack_.empty()) {
        root_ = std::move(node);
    } else if (stack_.back()->kind == Node::Kind::object) {
        stack_.back()->members.emplace_back(std::move(pendingKey_), std::move(node));
        pendingKey_.clear();
    } else {
        stack_.back()->items.push_back(std::move(node));
    }
    if (raw->kind != Node::Kind::scalar) stack_.push_back(raw);
}

void Writer::beginObject() {
    auto n = std::make_unique<Node>();
    n->kind = Node::Kind::object;
    addValue(std::move(n));
}

void Writer::endObject() {
    stack_.pop_back();
}

void Writer::beginArray() {
    auto n = std::make_unique<Node>();
    n->kind = Node::Kind::array;
    addValue(std::move(n));
}

void Writer::endArray() {
    stack_.pop_back();
}

void Writer::key(std::string_view name) {
    pendingKey_ = std::string(name);
}

void Writer::string(std::string_view text) {
    auto n = std::make_unique<Node>();
    n->text = quote(text);
    addValue(std::move(n));
}

void Writer::rawNumber(std::string text) {
    auto n = std::make_unique<Node>();
    n->text = std::move(text);
    addValue(std::move(n));
}

void Writer::boolean(bool value) {
    auto n = std::make_unique<Node>();
    n->text = value ? "true" : "false";
    addValue(std::move(n));
}

void Writer::null() {
    auto n = std::make_unique<Node>();
    n->text = "null";
    addValue(std::move(n));
}

void Writer::render(const Node& node, bool pretty, int indent, std::string& out) {
    const auto newline = [&](int level) {
        if (!pretty) return;
        out += '\n';
        out.append(static_cast<std::size_t>(level) * 2, ' ');
    };
    switch (node.kind) {
        case Node::Kind::scalar:
            out += node.text;
            return;
        case Node::Kind::array: {
            if (node.items.empty()) {
                out += "[]";
                return;
            }
            out += '[';
            for (std::size_t i = 0; i < node.items.size(); ++i) {
                if (i) out += ',';
                newline(indent + 1);
                render(*node.items[i], pretty, indent + 1, out);
            }
            newline(indent);
            out += ']';
            return;
        }
        case Node::Kind::object: {
            if (node.members.empty()) {
                out += "{}";
                return;
            }
            std::vector<const std::pair<std::string, std::unique_ptr<Node>>*> order;
            for (const auto& m : node.members) order.push_back(&m);
            if (pretty) {
                std::stable_sort(order.begin(), order.end(),
                                 [](const auto* a, const auto* b) { return a->first < b->first; });
            }
            out += '{';
            for (std::size_t i = 0; i < order.size(); ++i) {
                if (i) out += ',';
                newline(indent + 1);
                out += quote(order[i]->first);
                out += pretty ? " : " : ":";
                render(*order[i]->second, pretty, indent + 1, out);
            }
            newline(indent);
            out += '}';
            return;
        }
    }
}

std::string Writer::finish() {
    std::string out;
    if (root_) render(*root_, pretty_, 0, out);
    return out;
}

}  // namespace vantry::json
