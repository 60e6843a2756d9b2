#include "creator/coop-voice/OruCoopPlayerStatePacketV1170.h"

#include <bit>
#include <cmath>

#include "common/Json.h"
#include "common/Utf8.h"

namespace vantry::creator {

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

void writeFloat(json::Writer& w, float v, const char* field) {
    if (!std::isfinite(v)) throw AvatarEncodingError(std::string("non-finite value in ") + field);
    w.rawNumber(json::formatFloat(v));  // shortest text that reads back exactly
}

void writeVector(json::Writer& w, Float3 v, const char* field) {
    w.beginArray();
    writeFloat(w, v.x, field);
    writeFloat(w, v.y, field);
    writeFloat(w, v.z, field);
    w.endArray();
}

std::optional<float> toFloat(const json::Value& v) {
    const auto* n = v.number();
    if (!n) return std::nullopt;
    const auto d = json::toDouble(*n);
    if (!d) return std::nullopt;
    const float f = static_cast<float>(*d);
    if (!std::isfinite(f)) return std::nullopt;
    return f;
}

std::optional<Float3> readVector(const json::Value& v) {
    const auto* items = v.array();
    if (!items || items->size() != 3) return std::nullopt;
    Float3 out;
    float* lanes[3] = {&out.x, &out.y, &out.z};
    for (int i = 0; i < 3; ++i) {
        auto f = toFloat((*items)[static_cast<std::size_t>(i)]);
        if (!f) return std::nullopt;
        *lanes[i] = *f;
    }
    return out;
}

}  // namespace

std::string OruRemoteCoopAvatarV1170::toJSON() const {
    json::Writer w(false);
    w.beginObject();
    // Broken UTF-8 is written as U+FFFD so the document stays valid.
    w.key("id");
    w.string(utf8::replaceInvalid(id));
    w.key("callsign");
    w.string(utf8::replaceInvalid(callsign));
    w.key("worldPos");
    writeVector(w, worldPos, "worldPos");
    w.key("yaw");
    writeFloat(w, yaw, "yaw");
    w.key("carryingConEdCore");
    w.boolean(carryingConEdCore);
    w.key("inWarthogSeat");
    w.rawNumber(std::to_string(inWarthogSeat));
    w.key("isIndoorsMercy");
    w.boolean(isIndoorsMercy);
    w.key("voiceRMS");
    writeFloat(w, voiceRMS, "voiceRMS");
    w.key("accentRGB");
    writeVector(w, accentRGB, "accentRGB");
    w.endObject();
    return w.finish();
}

std::optional<OruRemoteCoopAvatarV1170> OruRemoteCoopAvatarV1170::fromJSON(std::string_view text) {
    // Peers may cut a callsign inside a character: broken text reads as U+FFFD.
    json::ParseOptions options;
    options.replaceBrokenUtf8 = true;
    options.rejectDuplicateKeys = true;
    const auto doc = json::parse(text, options);
    const json::Object* object = doc ? doc->object() : nullptr;
    // Exactly the nine keys toJSON writes.
    if (!object || object->size() != 9) return std::nullopt;
    const auto member = [&](const char* key) { return json::member(*object, key); };
    OruRemoteCoopAvatarV1170 a;
    for (auto [key, target] : {std::pair{"id", &a.id}, std::pair{"callsign", &a.callsign}}) {
        const json::Value* v = member(key);
        const std::string* s = v ? v->string() : nullptr;
        if (!s) return std::nullopt;
        *target = *s;
    }
    for (auto [key, target] : {std::pair{"worldPos", &a.worldPos}, std::pair{"accentRGB", &a.accentRGB}}) {
        const json::Value* v = member(key);
        auto vec = v ? readVector(*v) : std::nullopt;
        if (!vec) return std::nullopt;
        *target = *vec;
    }
    for (auto [key, target] : {std::pair{"yaw", &a.yaw}, std::pair{"voiceRMS", &a.voiceRMS}}) {
        const json::Value* v = member(key);
        auto f = v ? toFloat(*v) : std::nullopt;
        if (!f) return std::nullopt;
        *target = *f;
    }
    for (auto [key, target] : {std::pair{"carryingConEdCore", &a.carryingConEdCore},
                               std::pair{"isIndoorsMercy", &a.isIndoorsMercy}}) {
        const json::Value* v = member(key);
        const bool* b = v ? v->boolean() : nullptr;
        if (!b) return std::nullopt;
        *target = *b;
    }
    const json::Value* seat = member("inWarthogSeat");
    const auto n = seat && seat->number() ? json::toDouble(*seat->number()) : std::nullopt;
    // Whole numbers only, within the range a double holds exactly.
    if (!n || *n != std::trunc(*n) || std::fabs(*n) > 9007199254740992.0) return std::nullopt;
    a.inWarthogSeat = static_cast<std::int64_t>(*n);
    return a;
}

}  // namespace vantry::creator
