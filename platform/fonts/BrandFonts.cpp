#include "platform/fonts/BrandFonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QStringList>
#include <mutex>

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

QString materialIconsFamily() {
    static std::once_flag once;
    static QString family;
    std::call_once(once, [] {
        family = loadFirst({
            QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"),
            QStringLiteral("/usr/share/fonts/opentype/material-design-icons-iconfont/MaterialIcons-Regular.otf"),
        });
    });
    return family;
}

}  // namespace vantry::platform
