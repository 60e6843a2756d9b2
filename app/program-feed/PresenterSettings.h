// How the presenter shows ("Float" over the picture or "Stand in Set"), where it stands in the
// set and whether its picture is colour matched to the set ("Colour Match"), kept between runs
// beside the GO LIVE settings.
#pragma once

#include <filesystem>

#include "studio/PresenterPlace.h"

namespace vantry::app::feed {

struct PresenterSettings {
    bool inSet = false;
    studio::PresenterPlace place;
    bool colourMatch = true;
    friend bool operator==(const PresenterSettings&, const PresenterSettings&) = default;
};

// A missing or unreadable file gives the defaults; bad lines are ignored, places are clamped.
PresenterSettings loadPresenterSettings(const std::filesystem::path& folder);
// Throws std::filesystem::filesystem_error when the file cannot be written.
void savePresenterSettings(const std::filesystem::path& folder, const PresenterSettings& settings);

}  // namespace vantry::app::feed
