// What the game-facing views need from C++: symbol glyphs from the shared icon table,
// and the process-wide co-op manager and map store the co-op and raid maps sheet observes.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QQmlEngine;

namespace vantry::creator {
class OruLiveMultipeerCoopManagerV1170;
}

namespace vantry::app::gallery {

class GameUi : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString iconFamily READ iconFamily CONSTANT)
    Q_PROPERTY(QObject* coop READ coop CONSTANT)
    Q_PROPERTY(QObject* ugc READ ugc CONSTANT)
  public:
    explicit GameUi(QObject* parent = nullptr) : QObject(parent) {}

    // The Material Icons family (empty when the font file is missing).
    static QString iconFamily();
    // The glyph drawing a symbol name ("flame.fill"), as a one-character string.
    Q_INVOKABLE static QString icon(const QString& symbol);

    // A new lobby (owned by the caller's JavaScript engine) under prefix, with the
    // local player named localName.
    Q_INVOKABLE static QObject* createLobby(const QString& prefix, const QString& localName);

    // The co-op manager and map store the views observe: the process-wide instances
    // (created on first use) unless another manager was put in place.
    static QObject* coop();
    static QObject* ugc();

    // Puts manager in place of the process-wide co-op manager for every view created
    // afterwards (a loopback session, or a test's); null goes back to the shared one.
    static void useCoopManager(creator::OruLiveMultipeerCoopManagerV1170* manager);
};

// Registers the views' module (Vantry.Game) and its native helpers with engine.
void registerGameQml(QQmlEngine& engine);

}  // namespace vantry::app::gallery
