#include "app/studio-app/StudioUi.h"

#include "app/studio-app/StudioText.h"
#include "platform/fonts/BrandFonts.h"
#include "platform/symbols/SymbolGlyphs.h"
#include "studio/StudioCatalogue.h"

namespace vantry::app {

QString StudioUi::iconFamily() {
    return platform::materialIconsFamily();
}

QString StudioUi::icon(const QString& symbol) {
    const char32_t cp = platform::symbolCodepoint(symbol.toStdString());
    return QString::fromUcs4(&cp, 1);
}

QString StudioUi::fpsText(double fps) {
    return QString::fromStdString(fpsBadgeText(fps));
}

QString StudioUi::gainText(double value) {
    return QString::fromStdString(app::gainText(value));
}

QString StudioUi::onAirText(const QString& setId) {
    const auto set = BroadcastStudioSet::fromRawValue(setId.toStdString());
    return set ? QString::fromStdString(app::onAirText(*set)) : QString();
}

double StudioUi::contrastOver(const QColor& text, const QColor& backing, const QColor& picture) {
    const auto rgb = [](const QColor& c) { return Rgb{c.redF(), c.greenF(), c.blueF()}; };
    return contrastRatio(rgb(text), compositeOver(rgb(backing), backing.alphaF(), rgb(picture)));
}

}  // namespace vantry::app
