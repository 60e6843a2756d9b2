// What the studio commands of vantry-cli put on the LED wall: --slide FILE (a picture, a PDF or
// a video), --slide-page N (the PDF's page, from 1) and --slide-screen (the shared screen).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/StudioOptions.h"
#include "platform/wall-feed/WallFeed.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry::app::cli {

// By the file's first bytes ("%PDF-"; an MP4, QuickTime, Matroska, WebM, AVI or Ogg container)
// or, failing those, its extension; anything else is taken for a picture.
SlideKind slideKindOf(const std::filesystem::path& file);

// Reads --slide, --slide-page and --slide-screen into `options`: --slide-page wants a PDF
// --slide and a page it has, --slide-screen no --slide. Usage errors name the problem; a PDF
// that cannot be read is a CommandError.
void parseSlideOptions(const Args& args, StudioOptions& options);

// The help lines of --slide and --slide-page (and --slide-screen where `screen`).
std::string slideOptionsHelp(bool screen);

// Puts the page --slide-page asks for of a PDF --slide on the wall; CommandError when the PDF
// cannot be read.
void showPdfSlide(const StudioOptions& options, VantryMetalEngine& engine);

// A video --slide or --slide-screen as a live feed onto the engine's wall, for commands that
// render live (stream); null for any other slide. `ended` is told why a feed ended
// by itself (on the feed's thread). The feed must go before the engine. CommandError when the
// source cannot be opened.
std::unique_ptr<platform::wall::WallFeed> startLiveSlide(const StudioOptions& options,
                                                         VantryMetalEngine& engine,
                                                         std::function<void(const std::string&)> ended);

}  // namespace vantry::app::cli
