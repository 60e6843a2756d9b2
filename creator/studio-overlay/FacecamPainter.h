// How a facecam window is painted, with QPainter alone: the picture filling the window with its
// aspect kept (overflow cropped), clipped to the window's shape with antialiased edges, the outline
// stroke and the drop shadow. The facecam item of the overlay and the program feed both paint
// through it, so the window on screen and the one that goes out live are the same pixels.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSize>

class QPainter;

namespace vantry::creator {

// Centred crop of an image of `imageSize` with the aspect of `target` (the "fill" rule).
QRectF aspectFillSourceRect(QSizeF imageSize, QSizeF target);

// The shadow under a facecam window, in window points.
struct FacecamShadow {
    // Room around the window for the shadow (radius 10, offset 4).
    static constexpr qreal kMargin = 16;
    static constexpr qreal kOpacity = 0.45;
    static constexpr qreal kRadius = 10;
    static constexpr qreal kOffsetY = 4;
};

// How one facecam window is painted: `window` lies in an area of `size` that leaves room for the
// shadow; the outline is an ellipse or a rectangle rounded by `cornerRadius`.
struct FacecamWindowLook {
    QSize size;
    QRectF window;
    bool circle = false;
    qreal cornerRadius = 16;
    bool previewBackground = true;
    QColor borderColor = Qt::transparent;
    qreal borderWidth = 0;
    qreal shadowOffsetY = FacecamShadow::kOffsetY;
};

// Paints facecam windows; keeps its scratch images between calls, so one painter used often
// (each frame of an item) allocates once. Not shared between threads.
class FacecamPainter {
  public:
    // Paints the window with its top-left area corner at `origin`: `image` filling it (aspect
    // kept, overflow cropped) or the preview gradient, clipped to the outline, the border on the
    // outline, and under it the shadow of whatever the content covers.
    void paint(QPainter& painter, QPointF origin, const QImage& image, const FacecamWindowLook& look);

  private:
    QImage layer_;
    QImage shadow_;
};

}  // namespace vantry::creator
