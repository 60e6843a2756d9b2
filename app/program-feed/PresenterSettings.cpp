#include "app/program-feed/PresenterSettings.h"

#include <cstdio>
#include <string>

#include "platform/files/IniFile.h"

namespace vantry::app::feed {
namespace {

constexpr const char* kFile = "presenter.conf";

}  // namespace

PresenterSettings loadPresenterSettings(const std::filesystem::path& folder) {
    PresenterSettings s;
    const platform::IniFile ini = platform::IniFile::load(folder / kFile);
    if (const auto value = ini.value("presenter"); value && (*value == "in-set" || *value == "float"))
        s.inSet = *value == "in-set";
    if (const auto value = ini.value("place")) {
        float x = 0, z = 0, height = 0;
        char end = 0;
        if (std::sscanf(value->c_str(), "%f,%f,%f%c", &x, &z, &height, &end) == 3)
            s.place = studio::clampPresenterPlace({x, z, height});
    }
    if (const auto value = ini.value("colour-match"); value && (*value == "on" || *value == "off"))
        s.colourMatch = *value == "on";
    return s;
}

void savePresenterSettings(const std::filesystem::path& folder, const PresenterSettings& s) {
    char place[96];
    std::snprintf(place, sizeof place, "%.4f,%.4f,%.4f", double(s.place.x), double(s.place.z),
                  double(s.place.height));
    platform::IniFile ini;
    ini.setValue("presenter", s.inSet ? "in-set" : "float");
    ini.setValue("place", place);
    // Colour Match is on unless the file says otherwise: only "off" is written.
    if (!s.colourMatch) ini.setValue("colour-match", "off");
    ini.save(folder / kFile);
}

}  // namespace vantry::app::feed
