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

std::optional<std::int64_t> wholeNumber(const json::Object& o, const char* key) {
    const auto d = json::numberMember(o, key);
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
    const std::string *path = json::stringMember(*o, "outputPath"),
                      *title = json::stringMember(*o, "gameTitle"),
                      *headline = json::stringMember(*o, "highlightHeadline");
    const auto duration = json::numberMember(*o, "durationSeconds");
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
