// Placeholder until screen sharing is built.
#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {

std::vector<ShareableWindow> listShareableWindows(const std::string&) {
    return {};
}

bool screenShareUsesPortal() {
    return false;
}

std::unique_ptr<WallFeed> openScreenWallFeed(const ScreenShareTarget&, FeedCallbacks, std::string& error) {
    error = "Screen sharing is not available.";
    return nullptr;
}

}  // namespace vantry::platform::wall
