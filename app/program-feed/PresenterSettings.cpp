#include "app/program-feed/PresenterSettings.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/files/SafeOutput.h"

namespace vantry::app::feed {
namespace {

constexpr const char* kFile = "presenter.conf";

}  // namespace

PresenterSettings loadPresenterSettings(const std::filesystem::path& folder) {
    PresenterSettings s;
    std::ifstream in(folder / kFile);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (name == "presenter") {
            if (value == "in-set" || value == "float") s.inSet = value == "in-set";
        } else if (name == "place") {
            float x = 0, z = 0, height = 0;
            char end = 0;
            if (std::sscanf(value.c_str(), "%f,%f,%f%c", &x, &z, &height, &end) == 3)
                s.place = studio::clampPresenterPlace({x, z, height});
        }
    }
    return s;
}

void savePresenterSettings(const std::filesystem::path& folder, const PresenterSettings& s) {
    char place[96];
    std::snprintf(place, sizeof place, "%.4f,%.4f,%.4f", double(s.place.x), double(s.place.z),
                  double(s.place.height));
    platform::SafeOutput::write(folder / kFile, std::string("presenter=") + (s.inSet ? "in-set" : "float") +
                                                    "\nplace=" + place + "\n");
}

}  // namespace vantry::app::feed
