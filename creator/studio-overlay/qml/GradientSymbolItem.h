// A symbol glyph filled with a vertical two-colour gradient, with a soft glow behind it
// (the facecam preview's person icon). The glyph is fitted into the item minus the glow margin.
#pragma once

#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>
#include <QString>

namespace vantry::creator::qml {

class GradientSymbolItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString glyph READ glyph WRITE setGlyph NOTIFY changed)
    Q_PROPERTY(QString fontFamily READ fontFamily WRITE setFontFamily NOTIFY changed)
    Q_PROPERTY(QColor topColor READ topColor WRITE setTopColor NOTIFY changed)
    Q_PROPERTY(QColor bottomColor READ bottomColor WRITE setBottomColor NOTIFY changed)
    Q_PROPERTY(QColor glowColor READ glowColor WRITE setGlowColor NOTIFY changed)
    Q_PROPERTY(qreal glowRadius READ glowRadius WRITE setGlowRadius NOTIFY changed)

  public:
    explicit GradientSymbolItem(QQuickItem* parent = nullptr);

    QString glyph() const { return glyph_; }
    void setGlyph(const QString& v);
    QString fontFamily() const { return fontFamily_; }
    void setFontFamily(const QString& v);
    QColor topColor() const { return top_; }
    void setTopColor(const QColor& v);
    QColor bottomColor() const { return bottom_; }
    void setBottomColor(const QColor& v);
    // Colour and opacity of the glow (its alpha is the glow's opacity).
    QColor glowColor() const { return glow_; }
    void setGlowColor(const QColor& v);
    qreal glowRadius() const { return glowRadius_; }
    void setGlowRadius(qreal v);

    void paint(QPainter* painter) override;

  signals:
    void changed();

  private:
    QString glyph_;
    QString fontFamily_;
    QColor top_ = Qt::cyan;
    QColor bottom_ = Qt::blue;
    QColor glow_ = Qt::transparent;
    qreal glowRadius_ = 0;
    QImage glowScratch_;
};

}  // namespace vantry::creator::qml
