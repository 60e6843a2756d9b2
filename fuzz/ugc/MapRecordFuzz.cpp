// Feeds arbitrary bytes to the raid-map decoder. A record that decodes must encode again
// and decode to an equal record (floats are written in their shortest round-trip form).
// The same bytes go through the JSON reader it is built on, with the options the length
// picks: a document that reads writes back to a text that reads to the same document, and
// every number and member reader agrees with the value's type.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/Json.h"
#include "creator/ugc/OruUGCRaidMapRecordV1175.h"

using namespace vantry::creator;

namespace {

bool hasNaN(const OruUGCRaidMapRecordV1175& map) {
    for (const auto& p : map.placements) {
        if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z) || std::isnan(p.yawRad) ||
            std::isnan(p.scale))
            return true;
    }
    return false;
}

// Writes a document back with the project's writer.
void write(const vantry::json::Value& value, vantry::json::Writer& w) {
    using namespace vantry::json;
    if (value.object()) {
        w.beginObject();
        for (const auto& [name, member] : *value.object()) {
            w.key(name);
            write(member, w);
        }
        w.endObject();
    } else if (value.array()) {
        w.beginArray();
        for (const auto& item : *value.array()) write(item, w);
        w.endArray();
    } else if (value.string()) {
        w.string(*value.string());
    } else if (value.number()) {
        w.rawNumber(value.number()->text);
    } else if (value.boolean()) {
        w.boolean(*value.boolean());
    } else {
        w.null();
    }
}

std::string written(const vantry::json::Value& value, bool pretty) {
    vantry::json::Writer w(pretty);
    write(value, w);
    return w.finish();
}

// The number and member readers on every value of a document.
void readAll(const vantry::json::Value& value) {
    using namespace vantry::json;
    if (const auto* n = value.number()) {
        const auto d = toDouble(*n);
        const auto i = toInt64(*n);
        const auto f = toFloat(*n);
        if (i && !d) std::abort();  // every 64-bit integer is inside a double's range
        if (f && !d) std::abort();  // nor is a float
        if (d) {
            const std::string text = formatDecimal(*d);
            double back = 0;
            std::from_chars(text.data(), text.data() + text.size(), back);
            if (back != *d) std::abort();
        }
    } else if (const auto* o = value.object()) {
        for (const auto& [name, member] : *o) {
            if (vantry::json::member(*o, name) != &member) std::abort();
            if ((stringMember(*o, name) != nullptr) != (member.string() != nullptr)) std::abort();
            if ((boolMember(*o, name) != nullptr) != (member.boolean() != nullptr)) std::abort();
            if (numberMember(*o, name) && !member.number()) std::abort();
            readAll(member);
        }
    } else if (const auto* a = value.array()) {
        for (const auto& item : *a) readAll(item);
    }
}

void checkJson(std::string_view text, std::size_t size) {
    using namespace vantry::json;
    ParseOptions options;
    options.replaceBrokenUtf8 = (size & 1) != 0;
    options.rejectDuplicateKeys = (size & 2) != 0;
    const auto doc = parse(text, options);
    if (!doc) return;
    readAll(*doc);
    for (const bool pretty : {false, true}) {
        const std::string once = written(*doc, pretty);
        const auto again = parse(once);
        if (!again || written(*again, pretty) != once) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkJson(bytes, size);
    const auto map = decodeRaidMap(bytes);
    if (!map) return 0;
    if (hasNaN(*map)) std::abort();  // JSON has no NaN; the decoder must never produce one
    for (const bool pretty : {true, false}) {
        const std::string text = pretty ? encodeRaidMapPretty(*map) : encodeRaidMapCompact(*map);
        const auto again = decodeRaidMap(text);
        if (!again || !(*again == *map)) std::abort();
    }
    return 0;
}
