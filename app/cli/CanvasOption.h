// The --canvas option of the commands that make program pictures (still, export, screenshot,
// stream): the landscape program picture or the vertical one.
#pragma once

#include <string>

#include "app/cli/Args.h"
#include "studio/ProgramCanvas.h"

namespace vantry::app::cli {

// "landscape" or "vertical"; anything else is a usage error naming the value (control
// characters left out, so the message stays one line).
inline ProgramCanvas parseCanvasValue(const std::string& text) {
    if (const auto canvas = parseProgramCanvas(text)) return *canvas;
    std::string shown;
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) shown += c;
    throw UsageError("option --canvas expects landscape or vertical, got '" + shown + "'");
}

// Reads --canvas (default landscape).
inline ProgramCanvas parseCanvasOption(const Args& args) {
    const auto raw = args.value("canvas");
    return raw ? parseCanvasValue(*raw) : ProgramCanvas::landscape;
}

}  // namespace vantry::app::cli
