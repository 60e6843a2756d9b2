#include "app/studio-app/ProgramPreviewView.h"

#include <QPainter>

namespace vantry::app {

ProgramPreviewView::ProgramPreviewView(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setOpaquePainting(false);
}

void ProgramPreviewView::setPicture(const QImage& picture) {
    if (picture.isNull() && picture_.isNull()) return;
    picture_ = picture;
    update();
    emit pictureChanged();
}

void ProgramPreviewView::paint(QPainter* painter) {
    if (picture_.isNull() || width() <= 0 || height() <= 0) return;
    QSizeF size = picture_.size();
    size.scale(width(), height(), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(),
                        size.height());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(target, picture_);
}

}  // namespace vantry::app
