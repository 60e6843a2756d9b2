#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"

#include <QPainter>
#include <chrono>
#include <cmath>
#include <exception>
#include <system_error>

#include "creator/clips-and-juice/ViralClipLayout.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/UserFolders.h"
#include "platform/fonts/BrandFonts.h"
#include "platform/video/VideoWriter.h"

namespace vantry::creator::OruViralAutoClipper9x16V1030 {
namespace {

namespace fs = std::filesystem;
using namespace viralclip;
using platform::VideoWriter;
using platform::VideoWriterError;

QColor rgba(double r, double g, double b, double a) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

// The clip's coordinates have their origin at the bottom-left with y upward;
// the image's rows run top to bottom.
QRectF onImage(double x, double y, double w, double h) {
    return QRectF(x, kHeight - y - h, w, h);
}
QRectF onImage(const Rect& r) {
    return onImage(r.x, r.y, r.width, r.height);
}

void fill(QPainter& p, double x, double y, double w, double h, const QColor& c) {
    p.fillRect(onImage(x, y, w, h), c);
}

void fillEllipse(QPainter& p, double x, double y, double w, double h, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(onImage(x, y, w, h));
}

// One line of text with its baseline starting at (x, y), upright.
void drawLine(QPainter& p, const QString& text, double size, const QColor& c, double x, double y) {
    p.save();
    p.setFont(platform::nimbusSansBold(size));
    p.setPen(c);
    p.drawText(QPointF(x, kHeight - y), text);
    p.restore();
}

}  // namespace

fs::path defaultClipsDirectory() {
    const fs::path dir = platform::UserFolders::videos() / "CorvellaClips";
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    return dir;
}

void drawClipFrame(QImage& target, std::int64_t frameIndex, std::int64_t frameCount, const QString& gameTitle,
                   const QString& highlightHeadline, const QString& statBadge, const QImage* sourceImage) {
    QPainter p;
    if (!p.begin(&target)) return;
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double t = progressAt(frameIndex, frameCount);

    fill(p, 0, 0, kWidth, kHeight, rgba(0.05, 0.08, 0.14, 1));
    const Shake shake = impactShake(t);

    if (sourceImage) {
        const Rect r = imageRect(t, shake, sourceImage->width(), sourceImage->height());
        if (!sourceImage->isNull()) p.drawImage(onImage(r), *sourceImage);
    } else {
        fill(p, 60 + shake.sx, 360 + shake.sy, 960, 1180, rgba(0.09, 0.16, 0.28, 1));
        fill(p, 110 + shake.sx, 480 + 35 * std::sin(10 * t) + shake.sy, 860 * (0.28 + 0.7 * t), 46,
             rgba(0.14, 0.86, 0.98, 0.92));
        fillEllipse(p, 420 + 200 * std::sin(12 * t), 880 + 120 * std::cos(9 * t), 240, 240,
                    rgba(1, 0.78, 0.14, 0.96));
    }

    const QColor band = rgba(0.02, 0.04, 0.08, 0.86);
    fill(p, 0, 1630, 1080, 290, band);
    fill(p, 0, 0, 1080, 280, band);
    fill(p, 48, 1626, 984, 6, rgba(0.18, 0.9, 1, 0.95));
    fillEllipse(p, 64, 1800, 32, 32, rgba(1, 0.25, 0.28, 1));
    fill(p, 56, 86, 968 * t, 14, rgba(1, 0.82, 0.14, 1));

    drawLine(p, gameTitle.toUpper(), 40, rgba(0.24, 0.94, 1, 1), 114, 1806);
    drawLine(p, highlightHeadline, 56, rgba(1, 1, 1, 1), 64, 1710);
    drawLine(p, statBadge, 48, rgba(1, 0.84, 0.18, 1), 64, 150);
    p.end();
}

OruViralClipReceiptV1030 exportVerticalViralClip(
    const std::string& gameTitle, const std::string& highlightHeadline, const std::string& statBadge,
    const std::optional<QImage>& sourceGameplayImage, const std::optional<fs::path>& outputURL,
    double durationSeconds, int fps, const ClipProgress& progress) {
    const std::int64_t frameCount = frameCountFor(durationSeconds, fps);

    fs::path url;
    if (outputURL) {
        url = *outputURL;
    } else {
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        url = defaultClipsDirectory() / defaultClipFileName(gameTitle, now);
    }
    // The clip takes the destination's name only once it is complete.
    platform::SafeOutput output(url);

    platform::VideoWriterSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.fps = fps;
    settings.averageBitRate = kAverageBitRate;
    settings.maxKeyFrameInterval = fps;

    std::optional<VideoWriter> writer;
    try {
        writer.emplace(output.temporaryPath(), settings);
    } catch (const VideoWriterError& e) {
        if (e.kind() == VideoWriterError::Kind::Encoder)
            throw OruViralClipperError(1, "Cannot attach AVAssetWriterInput");
        throw;
    }

    // Converted once so each frame scales straight from premultiplied pixels.
    std::optional<QImage> source;
    if (sourceGameplayImage)
        source = sourceGameplayImage->convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QString title = QString::fromStdString(gameTitle);
    const QString headline = QString::fromStdString(highlightHeadline);
    const QString badge = QString::fromStdString(statBadge);

    std::exception_ptr failure;
    for (std::int64_t i = 0; i < frameCount; ++i) {
        platform::VideoFrameMemory memory;
        try {
            memory = writer->frameMemory();
        } catch (const VideoWriterError&) {
            continue;  // no frame memory: this frame is missing, the next keeps its number
        }
        {
            QImage frame(memory.data, memory.width, memory.height, static_cast<qsizetype>(memory.stride),
                         QImage::Format_ARGB32_Premultiplied);
            drawClipFrame(frame, i, frameCount, title, headline, badge, source ? &*source : nullptr);
        }
        try {
            writer->appendFrameMemory(i);
        } catch (...) {
            failure = std::current_exception();
            break;
        }
        if (progress) progress(i + 1, frameCount);
    }
    try {
        writer->finish();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    writer.reset();
    if (failure) {
        // A broken file is never left behind looking like a clip.
        output.discard();
        try {
            std::rethrow_exception(failure);
        } catch (const VideoWriterError&) {
            throw;
        } catch (...) {
            throw OruViralClipperError(2, "AVAssetWriter failed");
        }
    }

    output.commit();

    OruViralClipReceiptV1030 receipt;
    receipt.outputPath = url.string();
    receipt.width = kWidth;
    receipt.height = kHeight;
    receipt.frameCount = frameCount;
    receipt.durationSeconds = static_cast<double>(frameCount) / static_cast<double>(fps);
    receipt.fileSizeBytes = static_cast<std::int64_t>(fs::file_size(url));
    receipt.gameTitle = gameTitle;
    receipt.highlightHeadline = highlightHeadline;
    return receipt;
}

}  // namespace vantry::creator::OruViralAutoClipper9x16V1030
