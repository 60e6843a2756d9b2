#include "creator/studio-overlay/qml/FacecamPictureItem.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace vantry::creator::qml {

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

FacecamPictureItem::FacecamPictureItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setMipmap(false);
    setFillColor(Qt::transparent);
    for (auto signal : {&FacecamPictureItem::imageChanged, &FacecamPictureItem::shapeChanged,
                        &FacecamPictureItem::geometryPropsChanged, &FacecamPictureItem::lookChanged}) {
        connect(this, signal, this, [this] { update(); });
    }
}

void FacecamPictureItem::setImage(const QImage& image) {
    // Shares the controller's pixels (no copy); a new frame is always a new image.
    image_ = image;
    emit imageChanged();
}

void FacecamPictureItem::setShape(const QString& shape) {
    if (shape_ == shape) return;
    shape_ = shape;
    emit shapeChanged();
}

void FacecamPictureItem::setWindowWidth(qreal w) {
    if (qFuzzyCompare(windowWidth_, w)) return;
    windowWidth_ = w;
    emit geometryPropsChanged();
    emit imageChanged();
}

void FacecamPictureItem::setWindowHeight(qreal h) {
    if (qFuzzyCompare(windowHeight_, h)) return;
    windowHeight_ = h;
    emit geometryPropsChanged();
    emit imageChanged();
}

void FacecamPictureItem::setPreviewBackground(bool on) {
    if (previewBackground_ == on) return;
    previewBackground_ = on;
    emit lookChanged();
}

void FacecamPictureItem::setBorderColor(const QColor& c) {
    if (borderColor_ == c) return;
    borderColor_ = c;
    emit lookChanged();
}

void FacecamPictureItem::setBorderWidth(qreal w) {
    if (qFuzzyCompare(borderWidth_ + 1, w + 1)) return;
    borderWidth_ = w;
    emit lookChanged();
}

qreal FacecamPictureItem::cornerRadius() const {
    if (isCircle()) return std::min(windowWidth_, windowHeight_) / 2;
    return shape_ == QLatin1String("Rounded") ? 20 : 16;
}

QRectF FacecamPictureItem::imageSourceRect() const {
    return aspectFillSourceRect(image_.size(), QSizeF(windowWidth_, windowHeight_));
}

void FacecamPictureItem::paint(QPainter* painter) {
    const QSize size(int(std::ceil(width())), int(std::ceil(height())));
    if (size.isEmpty() || windowWidth_ <= 0 || windowHeight_ <= 0) return;
    FacecamWindowLook look;
    look.size = size;
    look.window = QRectF(kShadowMargin, kShadowMargin, windowWidth_, windowHeight_);
    look.circle = isCircle();
    look.cornerRadius = cornerRadius();
    look.previewBackground = previewBackground_;
    look.borderColor = borderColor_;
    look.borderWidth = borderWidth_;
    paintFacecamWindow(*painter, QPointF(0, 0), image_, look, layer_, shadow_);
}

void paintFacecamWindow(QPainter& painter, QPointF origin, const QImage& image, const FacecamWindowLook& look,
                        QImage& layer, QImage& shadow) {
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
    if (layer.size() != size || layer.format() != QImage::Format_ARGB32_Premultiplied)
        layer = QImage(size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
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

    // 2. The shadow follows whatever the content covers (a cut-out person casts a person's
    //    shadow): its coverage, shrunk and grown again as a cheap blur, in black.
    const int factor = 5;
    const QSize small(std::max(1, size.width() / factor), std::max(1, size.height() / factor));
    shadow = layer.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    shadow = shadow.scaled(std::max(1, small.width() / 2), std::max(1, small.height() / 2),
                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    {
        QPainter s(&shadow);
        s.setCompositionMode(QPainter::CompositionMode_SourceIn);
        s.fillRect(shadow.rect(), Qt::black);
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(FacecamPictureItem::kShadowOpacity);
    painter.drawImage(QRectF(origin + QPointF(0, look.shadowOffsetY), QSizeF(size)), shadow);
    painter.restore();
    painter.drawImage(origin, layer);
}

}  // namespace vantry::creator::qml
