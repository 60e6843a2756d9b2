#include "creator/studio-overlay/FacecamTypes.h"

#include "common/EnumTable.h"
namespace vantry::creator {

using Mode = OruFacecamBackgroundModeV1045;
using Shape = OruFacecamShapeV1045;

namespace {
constexpr std::array<std::string_view, 3> kModeRaw{"BG Occlusion", "BG Blur", "Full Cam"};
constexpr std::array<std::string_view, 3> kShapeRaw{"Cutout", "Circle", "Rounded"};
}  // namespace

const std::array<Mode, 3>& Mode::allCases() {
    return enum_table::allCases<Mode, 3>();
}

std::string_view Mode::rawValue() const {
    return enum_table::row(kModeRaw, case_);
}

std::optional<Mode> Mode::fromRawValue(std::string_view raw) {
    return enum_table::find<Mode>(kModeRaw, std::identity{}, raw);
}

Mode Mode::next() const {
    return allCases()[(static_cast<std::size_t>(case_) + 1) % allCases().size()];
}

const std::array<Shape, 3>& Shape::allCases() {
    return enum_table::allCases<Shape, 3>();
}

std::string_view Shape::rawValue() const {
    return enum_table::row(kShapeRaw, case_);
}

std::optional<Shape> Shape::fromRawValue(std::string_view raw) {
    return enum_table::find<Shape>(kShapeRaw, std::identity{}, raw);
}

Shape Shape::next() const {
    return allCases()[(static_cast<std::size_t>(case_) + 1) % allCases().size()];
}

}  // namespace vantry::creator
