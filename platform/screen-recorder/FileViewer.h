// Shows a file in the desktop's file manager.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace vantry::platform {

// Asks the file manager to show the file selected (the freedesktop FileManager1 service on the
// session bus), else opens its folder. Never throws. Returns at once; call on the main thread
// (the answer arrives through its event loop, and the folder fallback needs a QGuiApplication).
// `done`, when given, runs once on the main thread with an empty string when a file manager or
// the folder's opener took the request, else with why neither did.
void revealInFileViewer(const std::filesystem::path& file,
                        std::function<void(const std::string& failure)> done = {});

}  // namespace vantry::platform
