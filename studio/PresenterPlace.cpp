#include "studio/PresenterPlace.h"

#include <algorithm>
#include <cmath>

namespace vantry::studio {
namespace {

float clampOr(float v, float lo, float hi, float fallback) {
    return std::isfinite(v) ? std::clamp(v, lo, hi) : fallback;
}

}  // namespace

PresenterPlace clampPresenterPlace(PresenterPlace p) {
    const PresenterPlace d;
    p.x = clampOr(p.x, kPresenterMinX, kPresenterMaxX, d.x);
    p.z = clampOr(p.z, kPresenterMinZ, kPresenterMaxZ, d.z);
    p.height = clampOr(p.height, kPresenterMinHeight, kPresenterMaxHeight, d.height);
    return p;
}

PresenterPlace dragPresenter(PresenterPlace p, float dx, float dy) {
    p.x += dx * kPresenterDragUnitsPerPoint;
    p.z += dy * kPresenterDragUnitsPerPoint;
    return clampPresenterPlace(p);
}

PresenterPlace dragPresenterOnFloor(PresenterPlace p, Float3 grabbed, Float3 pointed) {
    p.x += pointed.x - grabbed.x;
    p.z += pointed.z - grabbed.z;
    return clampPresenterPlace(p);
}

PresenterPlace scalePresenter(PresenterPlace p, float step) {
    p.height *= 1.0f + step;
    return clampPresenterPlace(p);
}

Float3 acrossFacing(PresenterPlace p, Float3 eye) {
    // The direction from the feet towards the eye, turned a quarter clockwise seen from above.
    float fx = eye.x - p.x;
    float fz = eye.z - p.z;
    const float length = std::sqrt(fx * fx + fz * fz);
    if (length > 1e-5f) {
        fx /= length;
        fz /= length;
    } else {
        fx = 0;
        fz = 1;
    }
    return {fz, 0, -fx};
}

std::array<Float3, 4> presenterQuad(PresenterPlace p, float pictureAspect, Float3 eye) {
    const Float3 across = acrossFacing(p, eye);
    const float aspect = std::isfinite(pictureAspect) && pictureAspect > 0 ? pictureAspect : 1.0f;
    const float half = 0.5f * p.height * aspect;
    const Float3 right{across.x * half, 0, across.z * half};
    return {Float3{p.x - right.x, 0, p.z - right.z}, Float3{p.x + right.x, 0, p.z + right.z},
            Float3{p.x - right.x, p.height, p.z - right.z}, Float3{p.x + right.x, p.height, p.z + right.z}};
}

}  // namespace vantry::studio
