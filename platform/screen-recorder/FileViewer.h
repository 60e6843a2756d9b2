// Shows a file in the desktop's file manager.
#pragma once

#include <filesystem>

namespace vantry::platform {

// Asks the file manager to show the file selected (the freedesktop FileManager1 service on the
// session bus), else opens its folder. Does nothing when neither is possible; never throws.
// Returns at once; call on the main thread (the answer arrives through its event loop, and the
// folder fallback needs a QGuiApplication).
void revealInFileViewer(const std::filesystem::path& file);

}  // namespace vantry::platform
