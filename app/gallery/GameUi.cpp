#include "app/gallery/GameUi.h"

#include <QQmlEngine>

#include "creator/coop-voice/CoopSessionManager.h"
#include "creator/lobby/FriendslopLobbyController.h"
#include "creator/ugc/UGCBrowserStore.h"
#include "platform/fonts/BrandFonts.h"
#include "platform/symbols/SymbolGlyphs.h"

static void initGameResources() {
    Q_INIT_RESOURCE(game_qml);
    Q_INIT_RESOURCE(game_qml_lobby);
    Q_INIT_RESOURCE(game_qml_raids);
    Q_INIT_RESOURCE(game_qml_ugc);
}

namespace vantry::gallery {
namespace {

QPointer<OruLiveMultipeerCoopManagerV1170> coopInPlace;

}  // namespace

QString GameUi::iconFamily() {
    return platform::materialIconsFamily();
}

QString GameUi::icon(const QString& symbol) {
    const char32_t cp = platform::symbolCodepoint(symbol.toStdString());
    return QString::fromUcs4(&cp, 1);
}

QObject* GameUi::createLobby(const QString& prefix, const QString& localName) {
    return new OruFriendslopLobbyControllerV1020(prefix, localName);
}

QObject* GameUi::coop() {
    if (coopInPlace) return coopInPlace.data();
    return &OruLiveMultipeerCoopManagerV1170::shared();
}

void GameUi::useCoopManager(OruLiveMultipeerCoopManagerV1170* manager) {
    coopInPlace = manager;
}

QObject* GameUi::ugc() {
    return &creator::OruCloudKitUGCBrowserStoreV1175::shared();
}

void registerGameQml(QQmlEngine& engine) {
    static const bool registered = [] {
        initGameResources();
        qmlRegisterSingletonType<GameUi>("Vantry.GameNative", 1, 0, "GameUi",
                                         [](QQmlEngine*, QJSEngine*) -> QObject* { return new GameUi; });
        return true;
    }();
    (void)registered;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

}  // namespace vantry::gallery
