// Keeps the raid-map tests out of the real home folder: before any test runs, HOME and
// XDG_DATA_HOME point at a fresh temporary folder that is removed when the process ends.
#pragma once

#include <filesystem>
#include <string>

namespace vantry::testing {

// The temporary home of this test process.
const std::filesystem::path& tempHome();

// A new, empty folder under the temporary home.
std::filesystem::path freshFolder(const std::string& hint);

}  // namespace vantry::testing
