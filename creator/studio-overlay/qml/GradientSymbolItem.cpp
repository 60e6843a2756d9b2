#include "creator/studio-overlay/qml/GradientSymbolItem.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace vantry::creator::qml {

GradientSymbolItem::GradientSymbolItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setFillColor(Qt::transparent);
    connect(this, &GradientSymbolItem::changed, this, [this] { update(); });
}

#define VANTRY_SETTER(name, member, type)          \
    void GradientSymbolItem::name(const type& v) { \
        if (member == v) return;                   \
        member = v;                                \
        emit changed();                            \
    }
VANTRY_SETTER(setGlyph, glyph_, QString)
VANTRY_SETTER(setFontFamily, fontFamily_, QString)
VANTRY_SETTER(setTopColor, top_, QColor)
VANTRY_SETTER(setBottomColor, bottom_, QColor)
VANTRY_SETTER(setGlowColor, glow_, QColor)
#undef VANTRY_SETTER

void GradientSymbolItem::setGlowRadius(qreal v) {
    if (qFuzzyCompare(glowRadius_ + 1, v + 1)) return;
    glowRadius_ = v;
    emit changed();
}

void GradientSymbolItem::paint(QPainter* painter) {
    const QSize size(int(std::ceil(width())), int(std::ceil(height())));
    const qreal box = std::min(width(), height()) - 2 * glowRadius_;
    if (size.isEmpty() || box <= 1 || glyph_.isEmpty()) return;

    // The glyph at a size whose ink fits the box, centred.
    QFont font(fontFamily_);
    font.setPixelSize(std::max(1, int(box)));
    QPainterPath path;
    path.addText(0, 0, font, glyph_);
    QRectF ink = path.boundingRect();
    if (ink.isEmpty()) return;
    const qreal fit = std::min(box / ink.width(), box / ink.height());
    QTransform t;
    t.translate(width() / 2, height() / 2);
    t.scale(fit, fit);
    t.translate(-ink.center().x(), -ink.center().y());
    path = t.map(path);
    ink = path.boundingRect();

    painter->setRenderHint(QPainter::Antialiasing);
    if (glowRadius_ > 0 && glow_.alpha() > 0) {
        // The glow: the glyph's shape shrunk and grown again, which spreads it by about the radius.
        const qreal shrink = std::max<qreal>(2, glowRadius_ / 1.5);
        const QSize small(std::max(1, int(size.width() / shrink)), std::max(1, int(size.height() / shrink)));
        if (glowScratch_.size() != small) glowScratch_ = QImage(small, QImage::Format_ARGB32_Premultiplied);
        glowScratch_.fill(Qt::transparent);
        {
            QPainter g(&glowScratch_);
            g.setRenderHint(QPainter::Antialiasing);
            g.scale(small.width() / width(), small.height() / height());
            QColor solid = glow_;
            solid.setAlphaF(1);
            g.fillPath(path, solid);
        }
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->setOpacity(glow_.alphaF());
        painter->drawImage(QRectF(0, 0, width(), height()), glowScratch_);
        painter->restore();
    }
    QLinearGradient gradient(QPointF(0, ink.top()), QPointF(0, ink.bottom()));
    gradient.setColorAt(0, top_);
    gradient.setColorAt(1, bottom_);
    painter->fillPath(path, gradient);
}

}  // namespace vantry::creator::qml
