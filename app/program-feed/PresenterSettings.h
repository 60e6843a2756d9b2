// How the presenter shows ("Float" over the picture or "Stand in Set") and where it stands in
// the set, kept between runs beside the GO LIVE settings.
#pragma once

#include <filesystem>

#include "studio/PresenterPlace.h"

namespace vantry::app::feed {

struct PresenterSettings {
    bool inSet = false;
    studio::PresenterPlace place;
    friend bool operator==(const PresenterSettings&, const PresenterSettings&) = default;
};

// A missing or unreadable file gives the defaults; bad lines are ignored, places are clamped.
PresenterSettings loadPresenterSettings(const std::filesystem::path& folder);
// Throws std::filesystem::filesystem_error when the file cannot be written.
void savePresenterSettings(const std::filesystem::path& folder, const PresenterSettings& settings);

}  // namespace vantry::app::feed
