#include "platform/fonts/SubpixelHint.h"

#include <array>

namespace vantry::platform {
namespace {

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

}  // namespace

bool xresourcesAskForSubpixelText(std::string_view resources) {
    bool subpixel = false;  // the last definition wins, as in the resource database
    while (!resources.empty()) {
        const auto end = resources.find('\n');
        const std::string_view line = trim(resources.substr(0, end));
        resources = end == std::string_view::npos ? std::string_view{} : resources.substr(end + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || trim(line.substr(0, colon)) != "Xft.rgba") continue;
        const std::string_view value = trim(line.substr(colon + 1));
        constexpr std::array<std::string_view, 4> kSubpixel{"rgb", "bgr", "vrgb", "vbgr"};
        subpixel = false;
        for (std::string_view v : kSubpixel) subpixel = subpixel || value == v;
    }
    return subpixel;
}

}  // namespace vantry::platform
