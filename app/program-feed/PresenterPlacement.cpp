#include "app/program-feed/PresenterPlacement.h"

#include <algorithm>

#include "creator/studio-overlay/CreatorStudioMath.h"

namespace vantry::app::feed {

PresenterRect placePresenter(const PresenterLook& look, int outputWidth, int outputHeight,
                             ProgramCanvas canvas) {
    namespace studio = creator::studio;
    const double outW = std::max(outputWidth, 1);
    const double outH = std::max(outputHeight, 1);
    const bool emptyViewport = !(look.viewportWidth > 0) || !(look.viewportHeight > 0);
    const bool vertical = canvas == ProgramCanvas::vertical && !emptyViewport;
    // The tall frame is as wide as a slice of the viewport: the window keeps its width against
    // the frame's width (scaling by height would make it fill the frame), and its offset keeps
    // its place relative to each side.
    const double factor = emptyViewport ? 1.0
                          : vertical    ? outW / look.viewportWidth
                                        : outH / look.viewportHeight;
    const double factorY = vertical ? outH / look.viewportHeight : factor;

    PresenterRect r;
    r.factor = factor;
    r.circle = look.shape == PresenterShape::circle;
    const double scale = studio::clampScale(look.scale);
    r.width = (r.circle ? 148 : 176) * scale * factor;
    r.height = (r.circle ? 148 : 132) * scale * factor;
    const studio::SizeD offset =
        studio::clampOffset({look.offsetX * factor, look.offsetY * factorY}, {outW, outH});
    r.x = outW / 2 + offset.width - r.width / 2;
    r.y = outH / 2 + offset.height - r.height / 2;
    if (r.circle) {
        r.cornerRadius = std::min(r.width, r.height) / 2;
    } else {
        r.cornerRadius = (look.shape == PresenterShape::rounded ? 20 : 16) * factor;
    }
    r.borderWidth = look.freeCutout ? 0 : std::max(0.0, look.borderWidth) * factor;
    return r;
}

}  // namespace vantry::app::feed
