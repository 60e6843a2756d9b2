// "vantry-cli screenshot --view NAME": pictures of the gallery's game-facing views.
#pragma once

#include <string>
#include <vector>

namespace vantry::app::cli {

// True when the screenshot arguments ask for a gallery view (--view).
bool wantsViewScreenshot(const std::vector<std::string>& args);

// Opens the gallery on the named view, lets it settle, saves the window as a PNG.
int runViewScreenshot(const std::vector<std::string>& args);

}  // namespace vantry::app::cli
