// Placeholder until wall video is built.
#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {

std::unique_ptr<WallFeed> openVideoWallFeed(const std::filesystem::path& file, FeedCallbacks,
                                            std::string& error) {
    error = "cannot play '" + file.filename().string() + "'";
    return nullptr;
}

}  // namespace vantry::platform::wall
