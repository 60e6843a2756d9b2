// The presenter options of the studio commands (still, screenshot, stream): --presenter
// in-set|float and, for still, --camera FILE with --refine on|off.
#pragma once

#include <QImage>
#include <filesystem>
#include <optional>
#include <string>

#include "app/cli/Args.h"

namespace vantry::app::cli {

enum class PresenterMode { floating, inSet };

// Reads --presenter (absent: fallback); anything but "in-set" or "float" is a usage error.
PresenterMode parsePresenterMode(const Args& args, PresenterMode fallback = PresenterMode::floating);

// Reads --refine on|off (default on).
bool parseRefine(const Args& args);

// The help line of --presenter.
std::string presenterOptionHelp();

// Runs the picture file through the facecam's processing with the person-segmentation model
// (cut-out, mirrored, as the facecam shows it by default) and returns the premultiplied
// cut-out. CommandError when the file cannot be read, the model is missing or no person
// was found.
QImage cutOutPresenter(const std::filesystem::path& file, bool refineEdges);

}  // namespace vantry::app::cli
