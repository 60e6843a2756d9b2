// Installs a poster that runs main-thread tasks on Qt's GUI thread.
#pragma once

namespace vantry::platform {

// Call once after the QCoreApplication (or subclass) exists, from the GUI thread.
void installQtMainPoster();

}  // namespace vantry::platform
