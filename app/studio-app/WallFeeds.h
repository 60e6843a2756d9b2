// How the view model starts the LED wall's live feeds (a video file, a shared screen or window):
// the platform's own feeds, or others in tests.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/wall-feed/WallFeed.h"

namespace vantry::app {

struct WallFeeds {
    using OpenVideo = std::function<std::unique_ptr<platform::wall::WallFeed>(
        const std::filesystem::path& file, platform::wall::FeedCallbacks callbacks, std::string& error)>;
    using OpenScreen = std::function<std::unique_ptr<platform::wall::WallFeed>(
        const platform::wall::ScreenShareTarget& target, platform::wall::FeedCallbacks callbacks,
        std::string& error)>;

    OpenVideo openVideo;
    OpenScreen openScreen;
    // The windows that can be shared.
    std::function<std::vector<platform::wall::ShareableWindow>()> listWindows;
    // Whether a share goes through the desktop portal's own dialog.
    std::function<bool()> usesPortal;

    // The platform's feeds (openVideoWallFeed, openScreenWallFeed, listShareableWindows on
    // $DISPLAY, screenShareUsesPortal); a member left empty is one of these.
    static WallFeeds system();
    WallFeeds withSystemDefaults() const;
};

}  // namespace vantry::app
