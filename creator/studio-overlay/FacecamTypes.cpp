#include "creator/studio-overlay/FacecamTypes.h"

namespace vantry::creator {

using Mode = OruFacecamBackgroundModeV1045;
using Shape = OruFacecamShapeV1045;

const std::array<Mode, 3>& Mode::allCases() {
    static const std::array<Mode, 3> all{Mode::cutoutNoBackground, Mode::studioBlur, Mode::fullCamera};
    return all;
}

std::string_view Mode::rawValue() const {
    switch (case_) {
        case cutoutNoBackground:
            return "BG Occlusion";
        case studioBlur:
            return "BG Blur";
        case fullCamera:
            return "Full Cam";
    }
    return "BG Occlusion";
}

std::optional<Mode> Mode::fromRawValue(std::string_view raw) {
    for (Mode m : allCases()) {
        if (m.rawValue() == raw) return m;
    }
    return std::nullopt;
}

Mode Mode::next() const {
    return allCases()[(static_cast<std::size_t>(case_) + 1) % allCases().size()];
}

const std::array<Shape, 3>& Shape::allCases() {
    static const std::array<Shape, 3> all{Shape::freeCutout, Shape::circle, Shape::rounded};
    return all;
}

std::string_view Shape::rawValue() const {
    switch (case_) {
        case freeCutout:
            return "Cutout";
        case circle:
            return "Circle";
        case rounded:
            return "Rounded";
    }
    return "Cutout";
}

std::optional<Shape> Shape::fromRawValue(std::string_view raw) {
    for (Shape s : allCases()) {
        if (s.rawValue() == raw) return s;
    }
    return std::nullopt;
}

Shape Shape::next() const {
    return allCases()[(static_cast<std::size_t>(case_) + 1) % allCases().size()];
}

}  // namespace vantry::creator
