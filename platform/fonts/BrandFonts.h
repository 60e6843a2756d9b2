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

// The Material Icons family name, or empty when its font file is missing.
QString materialIconsFamily();

}  // namespace vantry::platform
