// Where the programs keep their settings: one folder, <config home>/vantry-pro, read and
// written through IniFile, SafeOutput and readRegularFile.
#pragma once

#include <filesystem>

namespace vantry::platform {

// <config home>/vantry-pro (the config home is read each time).
std::filesystem::path settingsFolder();

// <settings folder>/studio.ini, the window's own settings. A studio.ini left in the folder of
// earlier versions (<config home>/vantry) is moved here first, its settings kept; nothing is
// written to that folder again.
std::filesystem::path studioSettingsFile();

}  // namespace vantry::platform
