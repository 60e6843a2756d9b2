#include "creator/coop-voice/CoopPlayerState.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "creator/coop-voice/Utf8Text.h"
#include "platform/json/JsonText.h"

namespace vantry {

namespace {

void putLE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
}

void putFloat(std::vector<std::uint8_t>& out, float v) {
    putLE32(out, std::bit_cast<std::uint32_t>(v));
}

std::uint32_t readLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

float readFloat(const std::uint8_t* p) {
    return std::bit_cast<float>(readLE32(p));
}

std::uint32_t seatCode(std::int64_t warthogSeat) {
    // Compared before adding one so that no seat value can overflow.
    if (warthogSeat < -1) return 0;
    if (warthogSeat > 6) return 7;
    return static_cast<std::uint32_t>(warthogSeat + 1);
}

}  // namespace

OruCoopPlayerStatePacketV1170::OruCoopPlayerStatePacketV1170(std::uint32_t seq_, Float3 pos, float yaw_,
                                                             float voiceRMS_, bool carryingCore_,
                                                             bool insideMercy_, std::int64_t warthogSeat_,
                                                             std::string_view callsign)
    : seq(seq_),
      posX(pos.x),
      posY(pos.y),
      posZ(pos.z),
      yaw(yaw_),
      voiceRMS(voiceRMS_),
      flags((insideMercy_ ? 2u : 0u) | (carryingCore_ ? 1u : 0u) | (seatCode(warthogSeat_) << 2)),
      callsign16(utf8::prefixCharacters(callsign, callsignCharacters)) {}

std::vector<std::uint8_t> OruCoopPlayerStatePacketV1170::encodeBinary() const {
    std::vector<std::uint8_t> out;
    out.reserve(encodedBytes);
    putLE32(out, magic);
    putLE32(out, seq);
    putFloat(out, posX);
    putFloat(out, posY);
    putFloat(out, posZ);
    putFloat(out, yaw);
    putFloat(out, voiceRMS);
    putLE32(out, flags);
    // The first 16 bytes of the UTF-8 text; a multi-byte character may be cut.
    const std::size_t keep = std::min(callsign16.size(), callsignBytes);
    for (std::size_t i = 0; i < keep; ++i) out.push_back(static_cast<std::uint8_t>(callsign16[i]));
    out.resize(encodedBytes, 0);
    return out;
}

std::optional<OruCoopPlayerStatePacketV1170> OruCoopPlayerStatePacketV1170::decodeBinary(
    std::span<const std::uint8_t> data) {
    if (data.size() < encodedBytes) return std::nullopt;
    const std::uint8_t* p = data.data();
    if (readLE32(p) != magic) return std::nullopt;
    OruCoopPlayerStatePacketV1170 packet;
    packet.seq = readLE32(p + 4);
    packet.posX = readFloat(p + 8);
    packet.posY = readFloat(p + 12);
    packet.posZ = readFloat(p + 16);
    packet.yaw = readFloat(p + 20);
    packet.voiceRMS = readFloat(p + 24);
    packet.flags = readLE32(p + 28) & knownFlagBits;
    std::size_t len = 0;
    while (len < callsignBytes && p[32 + len] != 0) ++len;
    std::u32string name = utf8::decodeLenient(std::span<const std::uint8_t>(p + 32, len));
    if (name.empty()) name = U"OPERATOR";
    std::size_t end = 0;
    utf8::characterCount(name, callsignCharacters, &end);
    name.resize(end);
    packet.callsign16 = utf8::encode(name);
    return packet;
}

OruRemoteCoopAvatarV1170::OruRemoteCoopAvatarV1170(std::string id_, std::string callsign_, Float3 worldPos_,
                                                   float yaw_, bool carryingConEdCore_,
                                                   std::int64_t inWarthogSeat_, bool isIndoorsMercy_,
                                                   float voiceRMS_, Float3 accentRGB_)
    : id(std::move(id_)),
      callsign(std::move(callsign_)),
      worldPos(worldPos_),
      yaw(yaw_),
      carryingConEdCore(carryingConEdCore_),
      inWarthogSeat(inWarthogSeat_),
      isIndoorsMercy(isIndoorsMercy_),
      voiceRMS(voiceRMS_),
      accentRGB(accentRGB_) {}

// ---- JSON ----------------------------------------------------------------------------------------

namespace {

void writeString(std::string& out, std::string_view s) {
    // Broken UTF-8 is written as U+FFFD so the document stays valid.
    vantry::json::appendQuoted(out, utf8::prefixCharacters(s, s.size()));
}

void writeFloat(std::string& out, float v, const char* field) {
    if (!std::isfinite(v)) throw AvatarEncodingError(std::string("non-finite value in ") + field);
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);  // shortest text that reads back exactly
    out.append(buf, r.ptr);
}

void writeVector(std::string& out, Float3 v, const char* field) {
    out.push_back('[');
    writeFloat(out, v.x, field);
    out.push_back(',');
    writeFloat(out, v.y, field);
    out.push_back(',');
    writeFloat(out, v.z, field);
    out.push_back(']');
}

// A small reader for the flat object toJSON writes.
class Reader {
  public:
    explicit Reader(std::string_view s) : s_(s) {}

    bool atEnd() {
        skipSpace();
        return pos_ == s_.size();
    }
    bool consume(char c) {
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool peek(char c) {
        skipSpace();
        return pos_ < s_.size() && s_[pos_] == c;
    }

    std::optional<std::string> string() {
        if (!consume('"')) return std::nullopt;
        std::u32string text;
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"') return utf8::encode(text);
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                // Copy a run of raw bytes, decoding them as UTF-8.
                const std::size_t start = pos_ - 1;
                while (pos_ < s_.size() && s_[pos_] != '"' && s_[pos_] != '\\' &&
                       static_cast<unsigned char>(s_[pos_]) >= 0x20)
                    ++pos_;
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(s_.data() + start);
                text += utf8::decodeLenient(std::span<const std::uint8_t>(bytes, pos_ - start));
                continue;
            }
            if (pos_ >= s_.size()) return std::nullopt;
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    text.push_back(U'"');
                    break;
                case '\\':
                    text.push_back(U'\\');
                    break;
                case '/':
                    text.push_back(U'/');
                    break;
                case 'b':
                    text.push_back(U'\b');
                    break;
                case 'f':
                    text.push_back(U'\f');
                    break;
                case 'n':
                    text.push_back(U'\n');
                    break;
                case 'r':
                    text.push_back(U'\r');
                    break;
                case 't':
                    text.push_back(U'\t');
                    break;
                case 'u': {
                    auto unit = hex4();
                    if (!unit) return std::nullopt;
                    char32_t cp = *unit;
                    if (cp >= 0xD800 && cp <= 0xDBFF && pos_ + 1 < s_.size() && s_[pos_] == '\\' &&
                        s_[pos_ + 1] == 'u') {
                        const std::size_t save = pos_;
                        pos_ += 2;
                        auto low = hex4();
                        if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                            cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                        } else {
                            pos_ = save;
                        }
                    }
                    text.push_back(cp);  // a lone surrogate becomes U+FFFD when encoded
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<double> number() {
        skipSpace();
        const std::size_t start = pos_;
        while (pos_ < s_.size() && (std::strchr("+-0123456789.eE", s_[pos_]) != nullptr) && s_[pos_] != '\0')
            ++pos_;
        if (start == pos_) return std::nullopt;
        double v = 0;
        const auto r = std::from_chars(s_.data() + start, s_.data() + pos_, v);
        if (r.ec != std::errc() || r.ptr != s_.data() + pos_ || !std::isfinite(v)) return std::nullopt;
        return v;
    }

    std::optional<bool> boolean() {
        skipSpace();
        if (s_.substr(pos_, 4) == "true") {
            pos_ += 4;
            return true;
        }
        if (s_.substr(pos_, 5) == "false") {
            pos_ += 5;
            return false;
        }
        return std::nullopt;
    }

  private:
    void skipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
            ++pos_;
    }
    std::optional<char32_t> hex4() {
        if (pos_ + 4 > s_.size()) return std::nullopt;
        char32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<char32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<char32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<char32_t>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return v;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

std::optional<float> toFloat(std::optional<double> v) {
    if (!v) return std::nullopt;
    const float f = static_cast<float>(*v);
    if (!std::isfinite(f)) return std::nullopt;
    return f;
}

std::optional<Float3> readVector(Reader& r) {
    if (!r.consume('[')) return std::nullopt;
    Float3 v;
    float* lanes[3] = {&v.x, &v.y, &v.z};
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && !r.consume(',')) return std::nullopt;
        auto f = toFloat(r.number());
        if (!f) return std::nullopt;
        *lanes[i] = *f;
    }
    if (!r.consume(']')) return std::nullopt;
    return v;
}

}  // namespace

std::string OruRemoteCoopAvatarV1170::toJSON() const {
    std::string out = "{\"id\":";
    writeString(out, id);
    out += ",\"callsign\":";
    writeString(out, callsign);
    out += ",\"worldPos\":";
    writeVector(out, worldPos, "worldPos");
    out += ",\"yaw\":";
    writeFloat(out, yaw, "yaw");
    out += ",\"carryingConEdCore\":";
    out += carryingConEdCore ? "true" : "false";
    out += ",\"inWarthogSeat\":";
    out += std::to_string(inWarthogSeat);
    out += ",\"isIndoorsMercy\":";
    out += isIndoorsMercy ? "true" : "false";
    out += ",\"voiceRMS\":";
    writeFloat(out, voiceRMS, "voiceRMS");
    out += ",\"accentRGB\":";
    writeVector(out, accentRGB, "accentRGB");
    out += '}';
    return out;
}

std::optional<OruRemoteCoopAvatarV1170> OruRemoteCoopAvatarV1170::fromJSON(std::string_view json) {
    Reader r(json);
    if (!r.consume('{')) return std::nullopt;
    OruRemoteCoopAvatarV1170 a;
    unsigned seen = 0;
    bool first = true;
    while (!r.peek('}')) {
        if (!first && !r.consume(',')) return std::nullopt;
        first = false;
        auto key = r.string();
        if (!key || !r.consume(':')) return std::nullopt;
        unsigned bit = 0;
        if (*key == "id" || *key == "callsign") {
            auto s = r.string();
            if (!s) return std::nullopt;
            (*key == "id" ? a.id : a.callsign) = std::move(*s);
            bit = *key == "id" ? 1u : 2u;
        } else if (*key == "worldPos" || *key == "accentRGB") {
            auto v = readVector(r);
            if (!v) return std::nullopt;
            (*key == "worldPos" ? a.worldPos : a.accentRGB) = *v;
            bit = *key == "worldPos" ? 4u : 8u;
        } else if (*key == "yaw" || *key == "voiceRMS") {
            auto f = toFloat(r.number());
            if (!f) return std::nullopt;
            (*key == "yaw" ? a.yaw : a.voiceRMS) = *f;
            bit = *key == "yaw" ? 16u : 32u;
        } else if (*key == "carryingConEdCore" || *key == "isIndoorsMercy") {
            auto b = r.boolean();
            if (!b) return std::nullopt;
            (*key == "carryingConEdCore" ? a.carryingConEdCore : a.isIndoorsMercy) = *b;
            bit = *key == "carryingConEdCore" ? 64u : 128u;
        } else if (*key == "inWarthogSeat") {
            auto n = r.number();
            // Whole numbers only, within the range a double holds exactly.
            if (!n || *n != std::trunc(*n) || std::fabs(*n) > 9007199254740992.0) return std::nullopt;
            a.inWarthogSeat = static_cast<std::int64_t>(*n);
            bit = 256u;
        } else {
            return std::nullopt;
        }
        if (seen & bit) return std::nullopt;  // a key given twice
        seen |= bit;
    }
    if (!r.consume('}') || !r.atEnd() || seen != 511u) return std::nullopt;
    return a;
}

}  // namespace vantry
