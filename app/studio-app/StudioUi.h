// QML helpers shared by the studio's views: symbol images from the Material
// Icons font and the number formats the window shows.
#pragma once

#include <QColor>
#include <QObject>
#include <QString>

namespace vantry::app {

class StudioUi : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString iconFamily READ iconFamily CONSTANT)
  public:
    explicit StudioUi(QObject* parent = nullptr) : QObject(parent) {}

    // The Material Icons family (empty when the font file is missing).
    static QString iconFamily();
    // The glyph drawing a symbol name ("record.circle.fill"), as a one-character string.
    Q_INVOKABLE static QString icon(const QString& symbol);
    // "120 FPS": the nearest whole number, halves away from zero.
    Q_INVOKABLE static QString fpsText(double fps);
    // "%.2f".
    Q_INVOKABLE static QString gainText(double value);
    // "ON AIR · " + the title of the set with that id.
    Q_INVOKABLE static QString onAirText(const QString& setId);
    // Contrast ratio of opaque text over a translucent backing that lies over an opaque picture.
    Q_INVOKABLE static double contrastOver(const QColor& text, const QColor& backing, const QColor& picture);
};

}  // namespace vantry::app
