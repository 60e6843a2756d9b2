// Options shared by the studio commands of vantry-cli (still, export): set, angle,
// gains and slide, applied to a fresh engine.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/Args.h"
#include "platform/files/SafeOutput.h"
#include "studio/StudioCatalogue.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry::app::cli {

// What a --slide file is.
enum class SlideKind { picture, pdf, video };

struct StudioOptions {
    BroadcastStudioSet set = BroadcastStudioSet::manhattanLoft;
    BroadcastCameraAngle angle = BroadcastCameraAngle::wideDesk;
    std::optional<float> key, neon, led;
    std::optional<std::filesystem::path> slide;
    SlideKind slideKind = SlideKind::picture;
    int slidePage = 1;         // a PDF slide's page shown, from 1
    bool slideScreen = false;  // the shared screen on the wall (live commands)
    // A video slide: the time of its picture on the wall (still: the frame's time; export:
    // each frame's own, whatever this says).
    double slideTime = 0;
};

// The value options read by parseStudioOptions.
inline const char* const kStudioValueOptions[] = {"set", "angle", "key",       "neon",
                                                  "led", "slide", "slide-page"};

// Reads --set, --angle, --key, --neon, --led, --slide and --slide-page; bad values are usage
// errors.
StudioOptions parseStudioOptions(const Args& args);
// Reads --set and --angle alone into `options` (commands without lighting options).
void parseSetAndAngle(const Args& args, StudioOptions& options);
std::string setAndAngleHelp();

// The help lines of those options.
std::string studioOptionsHelp();

// Creates the engine and applies the options: a picture or a PDF page on the wall, or a video's
// picture at slideTime, and in an export each frame's own. No GPU or an unreadable slide throws
// CommandError naming the problem.
std::unique_ptr<VantryMetalEngine> makeStudioEngine(const StudioOptions& options,
                                                    EngineServices services = {});

// The output file `out`, written beside it and renamed over it once complete, so a failed
// run never leaves a partial file under the requested name. A symbolic link at `out` is
// replaced, never followed; a folder, device, pipe or socket there is refused. Creates the
// parent folder; CommandError when `out` cannot be written, UsageError when it names no file.
std::unique_ptr<platform::SafeOutput> openDestination(const std::filesystem::path& out);

// Hands the finished file over under its name; CommandError when that fails.
void commitDestination(platform::SafeOutput& output);

// openDestination, the whole content, commitDestination.
void writeDestination(const std::filesystem::path& out, std::string_view bytes);

}  // namespace vantry::app::cli
