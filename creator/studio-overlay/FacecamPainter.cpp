#include "creator/studio-overlay/FacecamPainter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace vantry::creator {

QRectF aspectFillSourceRect(QSizeF imageSize, QSizeF target) {
    if (imageSize.isEmpty() || target.isEmpty()) return QRectF(QPointF(0, 0), imageSize);
    const double targetAspect = target.width() / target.height();
    const double imageAspect = imageSize.width() / imageSize.height();
    if (imageAspect > targetAspect) {
        const double w = imageSize.height() * targetAspect;
        return QRectF((imageSize.width() - w) / 2, 0, w, imageSize.height());
    }
    const double h = imageSize.width() / targetAspect;
    return QRectF(0, (imageSize.height() - h) / 2, imageSize.width(), h);
}

void FacecamPainter::paint(QPainter& painter, QPointF origin, const QImage& image,
                           const FacecamWindowLook& look) {
    const QSize size = look.size;
    const QRectF window = look.window;
    if (size.isEmpty() || window.isEmpty()) return;
    QPainterPath outline;
    if (look.circle) {
        outline.addEllipse(window);
    } else {
        outline.addRoundedRect(window, look.cornerRadius, look.cornerRadius);
    }

    // 1. The window's own content (picture or preview gradient, clipped, with its outline).
    if (layer_.size() != size || layer_.format() != QImage::Format_ARGB32_Premultiplied)
        layer_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    layer_.fill(Qt::transparent);
    {
        QPainter p(&layer_);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        if (!image.isNull()) {
            p.setClipPath(outline);
            p.drawImage(window, image, aspectFillSourceRect(image.size(), window.size()));
            p.setClipping(false);
        } else if (look.previewBackground) {
            QLinearGradient g(window.topLeft(), window.bottomLeft());
            g.setColorAt(0, QColor::fromRgbF(0.08f, 0.14f, 0.24f));
            g.setColorAt(1, QColor::fromRgbF(0.04f, 0.07f, 0.13f));
            p.fillPath(outline, g);
        }
        if (look.borderWidth > 0 && look.borderColor.alpha() > 0) {
            // The stroke straddles the outline, as an outline stroke does.
            p.strokePath(outline, QPen(look.borderColor, look.borderWidth));
        }
    }

    // 2. The shadow_ follows whatever the content covers (a cut-out person casts a person's
    //    shadow_): its coverage, shrunk and grown again as a cheap blur, in black.
    const int factor = 5;
    const QSize small(std::max(1, size.width() / factor), std::max(1, size.height() / factor));
    shadow_ = layer_.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    shadow_ = shadow_.scaled(std::max(1, small.width() / 2), std::max(1, small.height() / 2),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    {
        QPainter s(&shadow_);
        s.setCompositionMode(QPainter::CompositionMode_SourceIn);
        s.fillRect(shadow_.rect(), Qt::black);
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(FacecamShadow::kOpacity);
    painter.drawImage(QRectF(origin + QPointF(0, look.shadowOffsetY), QSizeF(size)), shadow_);
    painter.restore();
    painter.drawImage(origin, layer_);
}

}  // namespace vantry::creator
