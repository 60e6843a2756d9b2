#include "creator/ugc/OruUGCRaidMapRecordV1175.h"

#include <chrono>
#include <ctime>

#include "common/Json.h"

namespace vantry::creator {
namespace {

void writePlacement(json::Writer& w, const OruUGCPropPlacementV1175& p) {
    w.beginObject();
    w.key("id");
    w.string(p.id);
    w.key("label");
    w.string(p.label);
    w.key("meshKind");
    w.string(p.meshKind);
    w.key("x");
    w.rawNumber(json::formatFloat(p.x));
    w.key("y");
    w.rawNumber(json::formatFloat(p.y));
    w.key("z");
    w.rawNumber(json::formatFloat(p.z));
    w.key("yawRad");
    w.rawNumber(json::formatFloat(p.yawRad));
    w.key("scale");
    w.rawNumber(json::formatFloat(p.scale));
    w.endObject();
}

std::string encode(const OruUGCRaidMapRecordV1175& map, bool pretty) {
    json::Writer w(pretty);
    w.beginObject();
    w.key("id");
    w.string(map.id);
    w.key("title");
    w.string(map.title);
    w.key("authorCallsign");
    w.string(map.authorCallsign);
    w.key("district");
    w.string(map.district);
    w.key("summary");
    w.string(map.summary);
    w.key("placements");
    w.beginArray();
    for (const auto& p : map.placements) writePlacement(w, p);
    w.endArray();
    w.key("likes");
    w.rawNumber(std::to_string(map.likes));
    w.key("syncedToCloudKit");
    w.boolean(map.syncedToCloudKit);
    w.key("createdISO");
    w.string(map.createdISO);
    w.endObject();
    return w.finish();
}

using json::member;

bool readString(const json::Object& o, std::string_view name, std::string& out) {
    const auto* v = member(o, name);
    const auto* s = v ? v->string() : nullptr;
    if (!s) return false;
    out = *s;
    return true;
}

bool readFloat(const json::Object& o, std::string_view name, float& out) {
    const auto* v = member(o, name);
    const auto* n = v ? v->number() : nullptr;
    if (!n) return false;
    auto f = json::toFloat(*n);
    if (!f) return false;
    out = *f;
    return true;
}

std::optional<OruUGCPropPlacementV1175> readPlacement(const json::Value& v) {
    const auto* o = v.object();
    if (!o) return std::nullopt;
    OruUGCPropPlacementV1175 p;
    if (!readString(*o, "id", p.id) || !readString(*o, "label", p.label) ||
        !readString(*o, "meshKind", p.meshKind) || !readFloat(*o, "x", p.x) || !readFloat(*o, "y", p.y) ||
        !readFloat(*o, "z", p.z) || !readFloat(*o, "yawRad", p.yawRad) || !readFloat(*o, "scale", p.scale)) {
        return std::nullopt;
    }
    return p;
}

}  // namespace

std::string encodeRaidMapPretty(const OruUGCRaidMapRecordV1175& map) {
    return encode(map, true);
}
std::string encodeRaidMapCompact(const OruUGCRaidMapRecordV1175& map) {
    return encode(map, false);
}

std::optional<OruUGCRaidMapRecordV1175> decodeRaidMap(std::string_view bytes) {
    auto doc = json::parse(bytes);
    if (!doc) return std::nullopt;
    const auto* o = doc->object();
    if (!o) return std::nullopt;
    OruUGCRaidMapRecordV1175 map;
    if (!readString(*o, "id", map.id) || !readString(*o, "title", map.title) ||
        !readString(*o, "authorCallsign", map.authorCallsign) || !readString(*o, "district", map.district) ||
        !readString(*o, "summary", map.summary) || !readString(*o, "createdISO", map.createdISO)) {
        return std::nullopt;
    }
    const auto* placements = member(*o, "placements");
    const auto* items = placements ? placements->array() : nullptr;
    if (!items) return std::nullopt;
    map.placements.reserve(items->size());
    for (const auto& item : *items) {
        auto p = readPlacement(item);
        if (!p) return std::nullopt;
        map.placements.push_back(std::move(*p));
    }
    const auto* likes = member(*o, "likes");
    const auto* likesNumber = likes ? likes->number() : nullptr;
    auto likesValue = likesNumber ? json::toInt64(*likesNumber) : std::nullopt;
    if (!likesValue) return std::nullopt;
    map.likes = *likesValue;
    const auto* synced = member(*o, "syncedToCloudKit");
    const auto* syncedValue = synced ? synced->boolean() : nullptr;
    if (!syncedValue) return std::nullopt;
    map.syncedToCloudKit = *syncedValue;
    return map;
}

std::string currentISOTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buf[32];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(buf, n);
}

}  // namespace vantry::creator
