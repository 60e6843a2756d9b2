// Where the presenter's facecam window lands in a program picture: the overlay's offset, scale
// and shape, measured in the viewport, carried over to a picture of another size.
#pragma once

#include "studio/ProgramCanvas.h"

namespace vantry::app::feed {

enum class PresenterShape { cutout, circle, rounded };

// The facecam window as the overlay shows it, in viewport units.
struct PresenterLook {
    double viewportWidth = 0;
    double viewportHeight = 0;
    double offsetX = -16;  // window centre relative to the viewport centre
    double offsetY = -96;  //
    double scale = 1;      // clamped like the overlay clamps it
    PresenterShape shape = PresenterShape::cutout;
    bool freeCutout = true;  // cut-out person without background: no border, no preview fill
    double borderWidth = 2;  // in viewport units; ignored for a free cutout
};

// The window in output pixels.
struct PresenterRect {
    double x = 0;  // top-left corner
    double y = 0;  //
    double width = 0;
    double height = 0;
    double cornerRadius = 0;  // half the smaller side for a circle
    double borderWidth = 0;   // 0: no border
    double factor = 1;        // output pixels per viewport unit (shadow margin and offset)
    bool circle = false;
};

// The studio is drawn with a fixed vertical field of view, so one viewport unit spans
// outputHeight / viewportHeight output pixels on both axes; the offset is then clamped to the
// output the way the overlay clamps it to its area. An empty viewport counts as the output.
// `canvas` is the picture's: on the vertical canvas a viewport unit spans outputWidth /
// viewportWidth pixels (the window's size, border and shadow), and the offset scales by the
// width across and by the height down, so the window keeps its relative place in the tall frame.
PresenterRect placePresenter(const PresenterLook& look, int outputWidth, int outputHeight,
                             ProgramCanvas canvas = ProgramCanvas::landscape);

// The viewport the command line assumes for the overlay's default place: a 1280 x 720 picture.
inline constexpr double kReferenceViewportWidth = 1280;
inline constexpr double kReferenceViewportHeight = 720;

}  // namespace vantry::app::feed
