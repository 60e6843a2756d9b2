// vantry-gallery: hosts the game-facing views the studio window does not reach (the
// co-op and raid maps sheet, the lobby's voice bar and the kill toast), one page each.
#include <QGuiApplication>

#include "app/gallery/GalleryHost.h"
#include "platform/dispatch/QtMainPoster.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Vantry Gallery"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vantry Gallery"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantry-gallery"));
    vantry::platform::installQtMainPoster();

    vantry::gallery::GalleryHost host;
    if (!host.open()) return 1;
    return app.exec();
}
