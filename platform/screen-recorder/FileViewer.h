// Shows a file in the desktop's file manager.
#pragma once

#include <filesystem>

namespace vantry::platform {

// Asks the file manager to show the file selected (the freedesktop FileManager1 service on the
// session bus), else opens its folder. Does nothing when neither is possible; never throws.
// Call on the main thread (needs a QGuiApplication for the folder fallback).
void revealInFileViewer(const std::filesystem::path& file);

}  // namespace vantry::platform
