// The two pictures the studio can put out at once: the landscape program and a vertical one
// (9:16, for short-video services), each filmed by a camera of its own in the set.
#pragma once

#include <optional>
#include <string_view>

namespace vantry {

enum class ProgramCanvas { landscape, vertical };

// "landscape" / "vertical": the name used in settings, on the command line and by the remote.
constexpr std::string_view programCanvasName(ProgramCanvas canvas) {
    return canvas == ProgramCanvas::vertical ? "vertical" : "landscape";
}
// "Landscape" / "Vertical": the name the window shows.
constexpr std::string_view programCanvasLabel(ProgramCanvas canvas) {
    return canvas == ProgramCanvas::vertical ? "Vertical" : "Landscape";
}
// programCanvasName's text, exactly; nothing for anything else.
constexpr std::optional<ProgramCanvas> parseProgramCanvas(std::string_view text) {
    if (text == "landscape") return ProgramCanvas::landscape;
    if (text == "vertical") return ProgramCanvas::vertical;
    return std::nullopt;
}

struct CanvasSize {
    int width = 0;
    int height = 0;
    constexpr bool operator==(const CanvasSize&) const = default;
};
// The canvas's picture for a landscape output of width x height: the landscape canvas is that
// picture, the vertical one the same picture stood on end (1280 x 720 gives 720 x 1280).
constexpr CanvasSize programCanvasSize(ProgramCanvas canvas, int landscapeWidth, int landscapeHeight) {
    return canvas == ProgramCanvas::vertical ? CanvasSize{landscapeHeight, landscapeWidth}
                                             : CanvasSize{landscapeWidth, landscapeHeight};
}

}  // namespace vantry
