#include "creator/studio-overlay/qml/FacecamPictureItem.h"

#include <algorithm>
#include <cmath>

namespace vantry::creator::qml {

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
    painter_.paint(*painter, QPointF(0, 0), image_, look);
}

}  // namespace vantry::creator::qml
