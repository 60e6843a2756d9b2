#include "creator/clips-and-juice/OruViralClipReceiptV1030.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <charconv>
#include <cmath>

#include "platform/json/JsonText.h"

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

std::optional<std::int64_t> wholeNumber(const QJsonValue& v) {
    if (!v.isDouble()) return std::nullopt;
    const double d = v.toDouble();
    if (d != std::trunc(d) || std::fabs(d) > 9.007199254740992e15) return std::nullopt;
    return static_cast<std::int64_t>(d);
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
    vantry::json::appendQuoted(out, outputPath);
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
    vantry::json::appendQuoted(out, gameTitle);
    key("highlightHeadline");
    vantry::json::appendQuoted(out, highlightHeadline);
    out += '}';
    return out;
}

std::optional<OruViralClipReceiptV1030> OruViralClipReceiptV1030::decode(std::string_view json) {
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue path = o.value("outputPath"), title = o.value("gameTitle"),
                     headline = o.value("highlightHeadline"), duration = o.value("durationSeconds");
    const auto width = wholeNumber(o.value("width")), height = wholeNumber(o.value("height")),
               frames = wholeNumber(o.value("frameCount")), size = wholeNumber(o.value("fileSizeBytes"));
    if (!path.isString() || !title.isString() || !headline.isString() || !duration.isDouble() || !width ||
        !height || !frames || !size)
        return std::nullopt;
    OruViralClipReceiptV1030 r;
    r.outputPath = path.toString().toStdString();
    r.width = *width;
    r.height = *height;
    r.frameCount = *frames;
    r.durationSeconds = duration.toDouble();
    r.fileSizeBytes = *size;
    r.gameTitle = title.toString().toStdString();
    r.highlightHeadline = headline.toString().toStdString();
    return r;
}

}  // namespace vantry::creator
