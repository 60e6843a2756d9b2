#include "creator/clips-and-juice/OruViralClipReceiptV1030.h"

#include <charconv>
#include <cmath>

#include "common/Json.h"
#include "common/JsonText.h"

namespace vantry::creator {
namespace {

void appendDouble(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out += "null";  // JSON has no infinities; decode rejects it
        return;
    }
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, res.ptr);
}

const json::Value* member(const json::Object& o, const char* key) {
    const auto it = o.find(key);
    return it == o.end() ? nullptr : &it->second;
}

std::optional<double> number(const json::Object& o, const char* key) {
    const json::Value* v = member(o, key);
    return v && v->number() ? json::toDouble(*v->number()) : std::nullopt;
}

const std::string* field(const json::Object& o, const char* key) {
    const json::Value* v = member(o, key);
    return v ? v->string() : nullptr;
}

std::optional<std::int64_t> wholeNumber(const json::Object& o, const char* key) {
    const auto d = number(o, key);
    if (!d || *d != std::trunc(*d) || std::fabs(*d) > 9.007199254740992e15) return std::nullopt;
    return static_cast<std::int64_t>(*d);
}

}  // namespace

std::string OruViralClipReceiptV1030::encode() const {
    std::string out = "{";
    auto key = [&](const char* name) {
        if (out.size() > 1) out += ',';
        out += '"';
        out += name;
        out += "\":";
    };
    key("outputPath");
    json::appendQuoted(out, outputPath);
    key("width");
    out += std::to_string(width);
    key("height");
    out += std::to_string(height);
    key("frameCount");
    out += std::to_string(frameCount);
    key("durationSeconds");
    appendDouble(out, durationSeconds);
    key("fileSizeBytes");
    out += std::to_string(fileSizeBytes);
    key("gameTitle");
    json::appendQuoted(out, gameTitle);
    key("highlightHeadline");
    json::appendQuoted(out, highlightHeadline);
    out += '}';
    return out;
}

std::optional<OruViralClipReceiptV1030> OruViralClipReceiptV1030::decode(std::string_view text) {
    const auto doc = json::parse(text);
    const json::Object* o = doc ? doc->object() : nullptr;
    if (!o) return std::nullopt;
    const std::string *path = field(*o, "outputPath"), *title = field(*o, "gameTitle"),
                      *headline = field(*o, "highlightHeadline");
    const auto duration = number(*o, "durationSeconds");
    const auto width = wholeNumber(*o, "width"), height = wholeNumber(*o, "height"),
               frames = wholeNumber(*o, "frameCount"), size = wholeNumber(*o, "fileSizeBytes");
    if (!path || !title || !headline || !duration || !width || !height || !frames || !size)
        return std::nullopt;
    OruViralClipReceiptV1030 r;
    r.outputPath = *path;
    r.width = *width;
    r.height = *height;
    r.frameCount = *frames;
    r.durationSeconds = *duration;
    r.fileSizeBytes = *size;
    r.gameTitle = *title;
    r.highlightHeadline = *headline;
    return r;
}

}  // namespace vantry::creator
