// The facecam window's picture in Qt Quick: the latest camera image filling the window with its
// aspect kept (overflow cropped), clipped to the window's shape with antialiased edges, the outline
// stroke and the drop shadow, painted by FacecamPainter. Without an image it shows the preview
// gradient (unless told not to).
//
// The image is shared with the controller, never copied on the main thread: painting happens on
// the scene graph's render thread while the main thread waits, and draws only the window's own
// pixels (at most 388 x 291 points), which are then uploaded as one texture.
#pragma once

#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>
#include <QRectF>
#include <QString>
#include <QVariant>

#include "creator/studio-overlay/FacecamPainter.h"

namespace vantry::creator::qml {

class FacecamPictureItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QVariant image READ imageVariant WRITE setImageVariant NOTIFY imageChanged)
    Q_PROPERTY(QString shape READ shape WRITE setShape NOTIFY shapeChanged)
    Q_PROPERTY(qreal windowWidth READ windowWidth WRITE setWindowWidth NOTIFY geometryPropsChanged)
    Q_PROPERTY(qreal windowHeight READ windowHeight WRITE setWindowHeight NOTIFY geometryPropsChanged)
    Q_PROPERTY(bool previewBackground READ previewBackground WRITE setPreviewBackground NOTIFY lookChanged)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor NOTIFY lookChanged)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth NOTIFY lookChanged)
    Q_PROPERTY(qreal cornerRadius READ cornerRadius NOTIFY shapeChanged)
    Q_PROPERTY(QRectF imageSourceRect READ imageSourceRect NOTIFY imageChanged)

  public:
    // Room around the window for the shadow (radius 10, offset 4).
    static constexpr qreal kShadowMargin = FacecamShadow::kMargin;
    static constexpr qreal kShadowOpacity = FacecamShadow::kOpacity;
    static constexpr qreal kShadowRadius = FacecamShadow::kRadius;
    static constexpr qreal kShadowOffsetY = FacecamShadow::kOffsetY;

    explicit FacecamPictureItem(QQuickItem* parent = nullptr);

    QImage image() const { return image_; }
    void setImage(const QImage& image);
    // QML side: an image, or anything else (undefined) for none.
    QVariant imageVariant() const { return QVariant::fromValue(image_); }
    void setImageVariant(const QVariant& image) { setImage(image.value<QImage>()); }
    QString shape() const { return shape_; }
    void setShape(const QString& shape);
    qreal windowWidth() const { return windowWidth_; }
    void setWindowWidth(qreal w);
    qreal windowHeight() const { return windowHeight_; }
    void setWindowHeight(qreal h);
    bool previewBackground() const { return previewBackground_; }
    void setPreviewBackground(bool on);
    QColor borderColor() const { return borderColor_; }
    void setBorderColor(const QColor& c);
    qreal borderWidth() const { return borderWidth_; }
    void setBorderWidth(qreal w);
    // 16 for "Cutout", 20 for "Rounded", half the smaller side for "Circle".
    qreal cornerRadius() const;
    // The part of the image that fills the window: centred, with the window's aspect.
    QRectF imageSourceRect() const;

    void paint(QPainter* painter) override;

  signals:
    void imageChanged();
    void shapeChanged();
    void geometryPropsChanged();
    void lookChanged();

  private:
    bool isCircle() const { return shape_ == QLatin1String("Circle"); }

    QImage image_;
    QString shape_ = QStringLiteral("Cutout");
    qreal windowWidth_ = 176;
    qreal windowHeight_ = 132;
    bool previewBackground_ = true;
    QColor borderColor_ = Qt::transparent;
    qreal borderWidth_ = 0;
    // Render-thread scratch images, reused between frames.
    FacecamPainter painter_;
};

// The painting itself lives in FacecamPainter; these names stay for the item's users.
using creator::aspectFillSourceRect;
using creator::FacecamWindowLook;

}  // namespace vantry::creator::qml
