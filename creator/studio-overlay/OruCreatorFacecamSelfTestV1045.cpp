#include "creator/studio-overlay/OruCreatorFacecamSelfTestV1045.h"

#include <charconv>
#include <cstdint>
#include <memory>

#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

#include <opencv2/core.hpp>

#include "common/Json.h"
#include "common/JsonText.h"
#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/files/SafeOutput.h"
#include "platform/fonts/BrandFonts.h"

namespace vantry::creator {

CreatorCamError::CreatorCamError(int code)
    : std::runtime_error("The operation couldn\u2019t be completed. (CreatorCam error " +
                         std::to_string(code) + ".)"),
      code_(code) {}

namespace {

std::string jsonNumber(double v) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

// Drawing coordinates have their origin at the bottom-left and y growing upward.
QRectF upRect(double x, double y, double w, double h, int surfaceHeight) {
    return QRectF(x, surfaceHeight - y - h, w, h);
}

QPointF upPoint(double x, double y, int surfaceHeight) {
    return QPointF(x, surfaceHeight - y);
}

QColor rgba(double r, double g, double b, double a) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

// The head-and-shoulders figure: shoulders cut by the bottom edge, head, headphone cups.
void drawFigure(QPainter& p, const QColor& shoulders, const QColor& head, const QColor& cups) {
    const int h = OruCreatorFacecamSelfTestV1045::kSubjectSize;
    p.setPen(Qt::NoPen);
    p.setBrush(shoulders);
    p.drawEllipse(upRect(34, -32, 188, 150, h));
    p.setBrush(head);
    p.drawEllipse(upRect(78, 108, 100, 112, h));
    p.fillRect(upRect(68, 146, 14, 42, h), cups);
    p.fillRect(upRect(174, 146, 14, 42, h), cups);
}

void drawText(QPainter& p, const char* text, double size, const QColor& color, double x, double y) {
    p.save();
    p.setFont(platform::nimbusSansBold(size));
    p.setPen(color);
    p.drawText(upPoint(x, y, OruCreatorFacecamSelfTestV1045::kCanvasHeight), QString::fromUtf8(text));
    p.restore();
}

}  // namespace

std::string OruCreatorFacecamSelfTestReceiptV1045::toJson() const {
    std::string out = "{\n";
    out += "  \"proofPNGPath\" : " + vantry::json::quotedText(proofPNGPath) + ",\n";
    out += "  \"bgOcclusionTransparentRatio\" : " + jsonNumber(bgOcclusionTransparentRatio) + ",\n";
    out += "  \"subjectOpaqueRatio\" : " + jsonNumber(subjectOpaqueRatio) + ",\n";
    out += std::string("  \"replayKitAvailable\" : ") + (replayKitAvailable ? "true" : "false") + ",\n";
    out += std::string("  \"dragAndScaleClampedOK\" : ") + (dragAndScaleClampedOK ? "true" : "false") + ",\n";
    out += std::string("  \"micLevelMeterWorking\" : ") + (micLevelMeterWorking ? "true" : "false") + "\n";
    return out + "}";
}

std::optional<OruCreatorFacecamSelfTestReceiptV1045> OruCreatorFacecamSelfTestReceiptV1045::fromJson(
    std::string_view text) {
    const auto doc = json::parse(text);
    const json::Object* o = doc ? doc->object() : nullptr;
    if (!o) return std::nullopt;
    const std::string* path = json::stringMember(*o, "proofPNGPath");
    const auto transparent = json::numberMember(*o, "bgOcclusionTransparentRatio"),
               opaque = json::numberMember(*o, "subjectOpaqueRatio");
    const bool *replayKit = json::boolMember(*o, "replayKitAvailable"),
               *clamped = json::boolMember(*o, "dragAndScaleClampedOK"),
               *meter = json::boolMember(*o, "micLevelMeterWorking");
    if (!path || !transparent || !opaque || !replayKit || !clamped || !meter) return std::nullopt;
    OruCreatorFacecamSelfTestReceiptV1045 r;
    r.proofPNGPath = *path;
    r.bgOcclusionTransparentRatio = *transparent;
    r.subjectOpaqueRatio = *opaque;
    r.replayKitAvailable = *replayKit;
    r.dragAndScaleClampedOK = *clamped;
    r.micLevelMeterWorking = *meter;
    return r;
}

namespace OruCreatorFacecamSelfTestV1045 {

OruCreatorFacecamSelfTestReceiptV1045 runSelfTestAndRenderProof(const std::filesystem::path& to) {
    constexpr int W = kCanvasWidth;
    constexpr int H = kCanvasHeight;
    constexpr int S = kSubjectSize;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) throw CreatorCamError(6);

    // Backdrop, perspective floor lines, framed panel.
    QImage canvas(W, H, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) throw CreatorCamError(1);
    QImage subject(S, S, QImage::Format_ARGB32_Premultiplied);
    QImage mask(S, S, QImage::Format_ARGB32_Premultiplied);
    if (subject.isNull() || mask.isNull()) throw CreatorCamError(2);

    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(upRect(0, 0, W, H, H), rgba(0.05, 0.09, 0.16, 1));
    QPainterPath floor;
    for (int x = 80; x <= 1180; x += 100) {
        floor.moveTo(upPoint(x, 40, H));
        floor.lineTo(upPoint(640 + (x - 640) / 3, 420, H));  // integer division truncates toward zero
    }
    QPen floorPen(rgba(0.14, 0.65, 0.88, 0.35), 2);
    floorPen.setCapStyle(Qt::FlatCap);
    p.strokePath(floor, floorPen);
    p.fillRect(upRect(420, 220, 440, 210, H), rgba(0.96, 0.72, 0.14, 0.95));
    p.fillRect(upRect(450, 245, 380, 160, H), rgba(0.1, 0.12, 0.16, 1));

    // Subject and mask.
    {
        QPainter s(&subject);
        s.setRenderHint(QPainter::Antialiasing);
        s.fillRect(QRect(0, 0, S, S), rgba(0.25, 0.32, 0.28, 1));
        drawFigure(s, rgba(0.14, 0.48, 0.92, 1), rgba(0.88, 0.7, 0.58, 1), rgba(0.12, 0.92, 1, 1));
    }
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.fillRect(QRect(0, 0, S, S), rgba(0, 0, 0, 1));
        const QColor white = rgba(1, 1, 1, 1);
        drawFigure(m, white, white, white);
    }

    // The live feed's blend over a transparent background.
    QImage blended(S, S, QImage::Format_ARGB32_Premultiplied);
    if (blended.isNull()) throw CreatorCamError(5);
    {
        cv::Mat subjectMat = wrapImage(subject);
        cv::Mat maskMat = wrapImage(mask);
        cv::Mat maskValue;
        cv::extractChannel(maskMat, maskValue, 1);  // grey: any colour channel is the mask value
        cv::Mat blendedMat = wrapImage(blended);
        blendWithMask(subjectMat, cv::Mat(), maskValue, blendedMat);
    }

    // Count by alpha (the fourth byte of each pixel).
    std::int64_t transparent = 0;
    std::int64_t opaque = 0;
    for (int y = 0; y < S; ++y) {
        const std::uint8_t* row = blended.constScanLine(y);
        for (int x = 0; x < S; ++x) {
            const int alpha = row[4 * x + 3];
            if (alpha < kTransparentBelow) {
                ++transparent;
            } else if (alpha > kOpaqueAbove) {
                ++opaque;
            }
        }
    }

    // The composited subject, the recording bar and the captions.
    p.drawImage(upRect(970, 44, S, S, H), blended);
    p.fillRect(upRect(790, 648, 460, 48, H), rgba(0.04, 0.06, 0.1, 0.86));
    p.setPen(Qt::NoPen);
    p.setBrush(rgba(1, 0.22, 0.22, 1));
    p.drawEllipse(upRect(810, 662, 20, 20, H));
    drawText(p, "REC 00:14  |  BG OCCLUDED  |  GAME + MIC", 17, rgba(1, 1, 1, 1), 840, 666);
    drawText(p, "CORVELLA CREATOR STUDIO OVERLAY", 22, rgba(0.22, 0.94, 1, 1), 42, 666);
    drawText(p, "DRAGGABLE \u00b7 RESIZABLE \u00b7 ZERO GREEN SCREEN", 13, rgba(0.4, 1.0, 0.85, 1), 925, 20);
    p.end();

    // The PNG, in a folder created on the way.
    if (to.has_parent_path()) std::filesystem::create_directories(to.parent_path());
    // Written beside `to` and renamed over it: a link there is replaced, a folder or pipe refused.
    std::unique_ptr<platform::SafeOutput> output;
    try {
        output = std::make_unique<platform::SafeOutput>(to);
    } catch (const std::filesystem::filesystem_error&) {
        throw CreatorCamError(3);
    }
    QImageWriter writer(QString::fromStdString(output->temporaryPath().string()), "png");
    if (!writer.write(canvas)) throw CreatorCamError(4);
    try {
        output->commit();
    } catch (const platform::OutputRefused&) {
        throw CreatorCamError(3);
    } catch (const std::filesystem::filesystem_error&) {
        throw CreatorCamError(4);
    }

    OruCreatorFacecamSelfTestReceiptV1045 receipt;
    receipt.proofPNGPath = to.string();
    receipt.bgOcclusionTransparentRatio = double(transparent) / double(S * S);
    receipt.subjectOpaqueRatio = double(opaque) / double(S * S);
    return receipt;
}

}  // namespace OruCreatorFacecamSelfTestV1045

}  // namespace vantry::creator
