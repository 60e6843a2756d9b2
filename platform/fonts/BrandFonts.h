// Fonts loaded from their package files so drawing does not depend on the
// desktop's font configuration.
#pragma once

#include <QFont>
#include <QString>

namespace vantry::platform {

// Nimbus Sans Bold (the metric twin of Helvetica Bold) at the given pixel size.
// Falls back to the best bold sans-serif the system has when the file is missing.
QFont nimbusSansBold(qreal pixelSize);

// The family name registered for Nimbus Sans Bold, or empty when its file is missing.
QString nimbusSansBoldFamily();

// The Inter family (regular, medium, semibold and bold faces from fonts-inter), or
// empty when its files are missing.
QString interFamily();

// The studio window's text font: Inter (or the system sans-serif when it is
// missing), antialiased in grey unless the desktop asks for subpixel text.
QFont studioUiFont();

// True when the desktop (X resource Xft.rgba) asks for subpixel text. False
// without an X11 connection.
bool desktopAsksForSubpixelText();

// The Material Icons family name, or empty when its font file is missing.
QString materialIconsFamily();

}  // namespace vantry::platform
