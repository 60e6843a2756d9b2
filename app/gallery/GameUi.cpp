#include "app/gallery/GameUi.h"

#include <QGuiApplication>
#include <QQmlEngine>

#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"
#include "creator/lobby/OruFriendslopLobbyControllerV1020.h"
#include "creator/ugc/OruCloudKitUGCBrowserStoreV1175.h"
#include "platform/fonts/BrandFonts.h"
#include "platform/symbols/SymbolGlyphs.h"

static void initGameResources() {
    Q_INIT_RESOURCE(game_qml);
    Q_INIT_RESOURCE(game_qml_lobby);
    Q_INIT_RESOURCE(game_qml_raids);
    Q_INIT_RESOURCE(game_qml_ugc);
}

namespace vantry::app::gallery {
namespace {

QPointer<creator::OruLiveMultipeerCoopManagerV1170> coopInPlace;

}  // namespace

QString GameUi::iconFamily() {
    return platform::materialIconsFamily();
}

QString GameUi::icon(const QString& symbol) {
    const char32_t cp = platform::symbolCodepoint(symbol.toStdString());
    return QString::fromUcs4(&cp, 1);
}

QObject* GameUi::createLobby(const QString& prefix, const QString& localName) {
    return new creator::OruFriendslopLobbyControllerV1020(prefix, localName);
}

QObject* GameUi::coop() {
    if (coopInPlace) return coopInPlace.data();
    return &creator::OruLiveMultipeerCoopManagerV1170::shared();
}

void GameUi::useCoopManager(creator::OruLiveMultipeerCoopManagerV1170* manager) {
    coopInPlace = manager;
}

QObject* GameUi::ugc() {
    return &creator::OruCloudKitUGCBrowserStoreV1175::shared();
}

void registerGameQml(QQmlEngine& engine) {
    static const bool registered = [] {
        initGameResources();
        // The studio window's UI font (Inter) for every text that names no other, so the two
        // applications read alike.
        QGuiApplication::setFont(platform::studioUiFont());
        qmlRegisterSingletonType<GameUi>("Vantry.GameNative", 1, 0, "GameUi",
                                         [](QQmlEngine*, QJSEngine*) -> QObject* { return new GameUi; });
        return true;
    }();
    (void)registered;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

}  // namespace vantry::app::gallery
