// vantry-gallery: hosts the game-facing views the studio window does not reach (the
// co-op and raid maps sheet, the lobby's voice bar and the kill toast), one page each.
//
//   vantry-gallery               the co-op session runs on the local network
//   vantry-gallery --loopback    it runs on 127.0.0.1 only (meets other loopback peers
//                                on this machine, such as vantry-cli coop --loopback)
#include <QCommandLineParser>
#include <QGuiApplication>
#include <memory>

#include "app/gallery/GalleryHost.h"
#include "app/gallery/GameUi.h"
#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"
#include "platform/dispatch/QtMainPoster.h"
#include "platform/p2p/PeerNode.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Vantry Gallery"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vantry Gallery"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantry-gallery"));
    vantry::platform::installQtMainPoster();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The game-facing views of Vantry Pro, one page each."));
    parser.addHelpOption();
    const QCommandLineOption loopback(QStringLiteral("loopback"),
                                      QStringLiteral("Run the co-op session on 127.0.0.1 only."));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("The name co-op peers see (default: the host name)."),
                                  QStringLiteral("NAME"));
    parser.addOption(loopback);
    parser.addOption(name);
    parser.process(app);

    std::unique_ptr<vantry::creator::OruLiveMultipeerCoopManagerV1170> ownCoop;
    if (parser.isSet(loopback) || parser.isSet(name)) {
        vantry::creator::CoopManagerOptions options;
        options.displayName = parser.value(name).toStdString();
        options.loopback = parser.isSet(loopback);
        options.loopbackBasePort =
            vantry::platform::p2p::loopbackBasePortFromEnvironment(options.loopbackBasePort);
        ownCoop = std::make_unique<vantry::creator::OruLiveMultipeerCoopManagerV1170>(options);
        vantry::app::gallery::GameUi::useCoopManager(ownCoop.get());
    }

    vantry::app::gallery::GalleryHost host;
    if (!host.open()) return 1;
    const int code = app.exec();
    vantry::app::gallery::GameUi::useCoopManager(nullptr);
    return code;
}
