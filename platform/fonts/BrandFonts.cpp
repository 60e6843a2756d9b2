#include "platform/fonts/BrandFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>
#include <mutex>
#include <string>

#include "platform/fonts/SubpixelHint.h"

#ifdef VANTRY_HAVE_XCB
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#endif

namespace vantry::platform {
namespace {

QString loadFirst(const QStringList& paths) {
    for (const QString& path : paths) {
        if (!QFile::exists(path)) continue;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0) continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (!families.isEmpty()) return families.first();
    }
    return {};
}

}  // namespace

QString nimbusSansBoldFamily() {
    static std::once_flag once;
    static QString family;
    std::call_once(once, [] {
        family = loadFirst({
            QStringLiteral("/usr/share/fonts/opentype/urw-base35/NimbusSans-Bold.otf"),
            QStringLiteral("/usr/share/fonts/type1/urw-base35/NimbusSans-Bold.t1"),
            QStringLiteral("/usr/share/fonts/X11/Type1/NimbusSans-Bold.pfb"),
        });
    });
    return family;
}

QFont nimbusSansBold(qreal pixelSize) {
    const QString family = nimbusSansBoldFamily();
    QFont font(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setWeight(QFont::Bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QString interFamily() {
    static std::once_flag once;
    static QString family;
    std::call_once(once, [] {
        const QString dir = QStringLiteral("/usr/share/fonts/opentype/inter/");
        for (const char* face :
             {"Inter-Regular.otf", "Inter-Medium.otf", "Inter-SemiBold.otf", "Inter-Bold.otf"}) {
            const QString found = loadFirst({dir + QLatin1String(face)});
            if (family.isEmpty()) family = found;
        }
    });
    return family;
}

bool desktopAsksForSubpixelText() {
#ifdef VANTRY_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return false;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (!screens.rem) return false;
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 0, screens.data->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1u << 20);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (!reply) return false;
    const std::string resources(static_cast<const char*>(xcb_get_property_value(reply)),
                                static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return xresourcesAskForSubpixelText(resources);
#else
    return false;
#endif
}

QFont studioUiFont() {
    const QString family = interFamily();
    QFont font(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
    font.setPixelSize(13);
    font.setStyleStrategy(desktopAsksForSubpixelText()
                              ? QFont::PreferAntialias
                              : QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
    return font;
}

QString materialIconsFamily() {
    static std::once_flag once;
    static QString family;
    std::call_once(once, [] {
        family = loadFirst({
            QStringLiteral(
                "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"),
            QStringLiteral(
                "/usr/share/fonts/opentype/material-design-icons-iconfont/MaterialIcons-Regular.otf"),
        });
    });
    return family;
}

}  // namespace vantry::platform
