#include "common/MessagePack.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/Utf8.h"

namespace vantry::msgpack {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::optional<json::Value> value(int depth) {
        if (depth > json::kMaxDepth) return fail("nested too deep");
        std::uint8_t tag = 0;
        if (!byte(tag)) return std::nullopt;
        if (tag <= 0x7f) return integer(std::uint64_t(tag));
        if (tag >= 0xe0) return integer(std::int64_t(std::int8_t(tag)));
        if ((tag & 0xf0) == 0x80) return map(tag & 0x0f, depth);
        if ((tag & 0xf0) == 0x90) return array(tag & 0x0f, depth);
        if ((tag & 0xe0) == 0xa0) return string(tag & 0x1f);
        switch (tag) {
            case 0xc0:
                return json::Value{json::Null{}};
            case 0xc2:
                return json::Value{false};
            case 0xc3:
                return json::Value{true};
            case 0xca: {
                std::uint64_t bits = 0;
                if (!unsignedOf(4, bits)) return std::nullopt;
                return floating(double(std::bit_cast<float>(std::uint32_t(bits))));
            }
            case 0xcb: {
                std::uint64_t bits = 0;
                if (!unsignedOf(8, bits)) return std::nullopt;
                return floating(std::bit_cast<double>(bits));
            }
            case 0xcc:
            case 0xcd:
            case 0xce:
            case 0xcf: {
                std::uint64_t v = 0;
                if (!unsignedOf(std::size_t(1) << (tag - 0xcc), v)) return std::nullopt;
                return integer(v);
            }
            case 0xd0:
            case 0xd1:
            case 0xd2:
            case 0xd3: {
                const std::size_t n = std::size_t(1) << (tag - 0xd0);
                std::uint64_t v = 0;
                if (!unsignedOf(n, v)) return std::nullopt;
                // Sign-extends the n-byte value.
                const int shift = int(64 - 8 * n);
                return integer(std::int64_t(v << shift) >> shift);
            }
            case 0xd9:
            case 0xda:
            case 0xdb: {
                std::uint64_t n = 0;
                if (!unsignedOf(std::size_t(1) << (tag - 0xd9), n)) return std::nullopt;
                return string(n);
            }
            case 0xdc:
            case 0xdd: {
                std::uint64_t n = 0;
                if (!unsignedOf(tag == 0xdc ? 2 : 4, n)) return std::nullopt;
                return array(n, depth);
            }
            case 0xde:
            case 0xdf: {
                std::uint64_t n = 0;
                if (!unsignedOf(tag == 0xde ? 2 : 4, n)) return std::nullopt;
                return map(n, depth);
            }
            default:
                break;
        }
        // 0xc1 is never used; c4-c6 are binary data, c7-c9 and d4-d8 extension types.
        return fail("unsupported type 0x" + hex(tag));
    }

    bool atEnd() const { return at_ == bytes_.size(); }
    std::string error;

  private:
    std::optional<json::Value> fail(std::string why) {
        if (error.empty()) error = std::move(why) + " at byte " + std::to_string(at_);
        return std::nullopt;
    }
    static std::string hex(std::uint8_t b) {
        const char* digits = "0123456789abcdef";
        return {digits[b >> 4], digits[b & 15]};
    }
    std::size_t left() const { return bytes_.size() - at_; }
    bool byte(std::uint8_t& out) {
        if (left() < 1) {
            fail("the value is cut short");
            return false;
        }
        out = std::uint8_t(bytes_[at_++]);
        return true;
    }
    bool unsignedOf(std::size_t n, std::uint64_t& out) {
        if (left() < n) {
            fail("the value is cut short");
            return false;
        }
        out = 0;
        for (std::size_t i = 0; i < n; ++i) out = (out << 8) | std::uint8_t(bytes_[at_ + i]);
        at_ += n;
        return true;
    }
    static std::optional<json::Value> integer(std::uint64_t v) {
        return json::Value{json::Number{std::to_string(v)}};
    }
    static std::optional<json::Value> integer(std::int64_t v) {
        return json::Value{json::Number{std::to_string(v)}};
    }
    std::optional<json::Value> floating(double v) {
        if (!std::isfinite(v)) return fail("a float that is not finite");
        return json::Value{json::Number{json::formatDouble(v)}};
    }
    std::optional<std::string> text(std::uint64_t n) {
        if (n > left()) {
            fail("a string longer than the message");
            return std::nullopt;
        }
        std::string out(bytes_.substr(at_, std::size_t(n)));
        at_ += std::size_t(n);
        if (!utf8::isValid(out)) {
            fail("a string that is not UTF-8");
            return std::nullopt;
        }
        return out;
    }
    std::optional<json::Value> string(std::uint64_t n) {
        auto s = text(n);
        if (!s) return std::nullopt;
        return json::Value{std::move(*s)};
    }
    std::optional<json::Value> array(std::uint64_t n, int depth) {
        // Every element takes at least one byte.
        if (n > left()) return fail("an array longer than the message");
        json::Array out;
        out.reserve(std::size_t(n));
        for (std::uint64_t i = 0; i < n; ++i) {
            auto v = value(depth + 1);
            if (!v) return std::nullopt;
            out.push_back(std::move(*v));
        }
        return json::Value{std::move(out)};
    }
    std::optional<json::Value> map(std::uint64_t n, int depth) {
        if (n > left() / 2) return fail("a map longer than the message");
        json::Object out;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint8_t tag = 0;
            if (!byte(tag)) return std::nullopt;
            std::uint64_t length = 0;
            if ((tag & 0xe0) == 0xa0) {
                length = tag & 0x1f;
            } else if (tag >= 0xd9 && tag <= 0xdb) {
                if (!unsignedOf(std::size_t(1) << (tag - 0xd9), length)) return std::nullopt;
            } else {
                return fail("a map key that is not a string");
            }
            auto key = text(length);
            if (!key) return std::nullopt;
            auto v = value(depth + 1);
            if (!v) return std::nullopt;
            out.insert_or_assign(std::move(*key), std::move(*v));  // the last of a repeated key wins
        }
        return json::Value{std::move(out)};
    }

    std::string_view bytes_;
    std::size_t at_ = 0;
};

void put(std::string& out, std::uint8_t tag, std::uint64_t v, std::size_t n) {
    out += char(tag);
    for (std::size_t i = n; i-- > 0;) out += char((v >> (8 * i)) & 0xff);
}

void putLength(std::string& out, std::uint64_t n, std::uint8_t fix, std::uint64_t fixMax, std::uint8_t t8,
               std::uint8_t t16, std::uint8_t t32) {
    if (n <= fixMax) {
        out += char(fix | n);
    } else if (t8 && n <= 0xff) {
        put(out, t8, n, 1);
    } else if (n <= 0xffff) {
        put(out, t16, n, 2);
    } else {
        put(out, t32, n, 4);
    }
}

void putString(std::string& out, std::string_view s) {
    if (!utf8::isValid(s)) throw json::EncodingError("a string that is not UTF-8");
    putLength(out, s.size(), 0xa0, 31, 0xd9, 0xda, 0xdb);
    out += s;
}

void putNumber(std::string& out, const json::Number& n) {
    if (const auto i = json::toInt64(n)) {
        const std::int64_t v = *i;
        if (v >= 0 && v <= 0x7f) {
            out += char(v);
        } else if (v < 0 && v >= -32) {
            out += char(std::uint8_t(v));
        } else if (v >= 0) {
            if (v <= 0xff)
                put(out, 0xcc, std::uint64_t(v), 1);
            else if (v <= 0xffff)
                put(out, 0xcd, std::uint64_t(v), 2);
            else if (v <= 0xffffffffLL)
                put(out, 0xce, std::uint64_t(v), 4);
            else
                put(out, 0xcf, std::uint64_t(v), 8);
        } else {
            if (v >= -128)
                put(out, 0xd0, std::uint64_t(v) & 0xff, 1);
            else if (v >= -32768)
                put(out, 0xd1, std::uint64_t(v) & 0xffff, 2);
            else if (v >= -2147483648LL)
                put(out, 0xd2, std::uint64_t(v) & 0xffffffff, 4);
            else
                put(out, 0xd3, std::uint64_t(v), 8);
        }
        return;
    }
    const auto d = json::toDouble(n);
    if (!d) throw json::EncodingError("a number that does not read: " + n.text);
    put(out, 0xcb, std::bit_cast<std::uint64_t>(*d), 8);
}

void putValue(std::string& out, const json::Value& value) {
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, json::Null>) {
                out += char(0xc0);
            } else if constexpr (std::is_same_v<T, bool>) {
                out += char(v ? 0xc3 : 0xc2);
            } else if constexpr (std::is_same_v<T, json::Number>) {
                putNumber(out, v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                putString(out, v);
            } else if constexpr (std::is_same_v<T, json::Array>) {
                putLength(out, v.size(), 0x90, 15, 0, 0xdc, 0xdd);
                for (const json::Value& item : v) putValue(out, item);
            } else {
                putLength(out, v.size(), 0x80, 15, 0, 0xde, 0xdf);
                for (const auto& [key, item] : v) {
                    putString(out, key);
                    putValue(out, item);
                }
            }
        },
        value.data);
}

}  // namespace

std::optional<json::Value> decode(std::string_view bytes, std::string* error) {
    Reader reader(bytes);
    auto value = reader.value(1);
    if (value && !reader.atEnd()) {
        value.reset();
        reader.error = "bytes after the value";
    }
    if (!value && error) *error = reader.error;
    return value;
}

std::string encode(const json::Value& value) {
    std::string out;
    putValue(out, value);
    return out;
}

}  // namespace vantry::msgpack
