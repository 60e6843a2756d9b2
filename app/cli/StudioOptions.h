// Options shared by the studio commands of vantry-cli (still, export): set, angle,
// gains and slide, applied to a fresh engine.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/Args.h"
#include "studio/StudioCatalogue.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry::cli {

struct StudioOptions {
    BroadcastStudioSet set = BroadcastStudioSet::manhattanLoft;
    BroadcastCameraAngle angle = BroadcastCameraAngle::wideDesk;
    std::optional<float> key, neon, led;
    std::optional<std::filesystem::path> slide;
};

// The value options read by parseStudioOptions.
inline const char* const kStudioValueOptions[] = {"set", "angle", "key", "neon", "led", "slide"};

// Reads --set, --angle, --key, --neon, --led and --slide; bad values are usage errors.
StudioOptions parseStudioOptions(const Args& args);

// The help lines of those options.
std::string studioOptionsHelp();

// Creates the engine and applies the options. No GPU or an unreadable slide throws
// CommandError naming the problem.
std::unique_ptr<VantryMetalEngine> makeStudioEngine(const StudioOptions& options);

// A hidden file beside `out` that is renamed over it once complete, so a failed
// run never leaves a partial file under the requested name.
std::filesystem::path partialPathFor(const std::filesystem::path& out);

// Creates the parent folder of `out`; CommandError when it cannot be made.
void prepareDestination(const std::filesystem::path& out);

}  // namespace vantry::cli
