// LED wall feeds that a test drives: each picture and each end is handed to the feed's callbacks
// from a thread of the feed's own, as the platform's feeds do; opening can be made to fail.
#pragma once

#include <QImage>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/studio-app/WallFeeds.h"
#include "common/audio/SoundFeed.h"
#include "platform/wall-feed/WallFeed.h"

namespace vantry::testing {

class FakeWallFeed : public platform::wall::WallFeed {
  public:
    FakeWallFeed(std::string name, std::string token, platform::wall::FeedCallbacks callbacks,
                 std::shared_ptr<bool> alive, std::shared_ptr<audio::SoundFeed> sound = nullptr)
        : name_(std::move(name)),
          token_(std::move(token)),
          callbacks_(std::move(callbacks)),
          alive_(std::move(alive)),
          sound_(std::move(sound)) {
        *alive_ = true;
    }
    ~FakeWallFeed() override { *alive_ = false; }

    std::string name() const override { return name_; }
    std::string restoreToken() const override { return token_; }
    std::shared_ptr<audio::SoundFeed> sound() const override { return sound_; }

    // Hands `picture` over on a thread of its own and waits for it to be taken.
    void send(const QImage& picture) {
        std::thread([&] { callbacks_.picture(picture); }).join();
    }
    // The feed ends by itself, with `message`.
    void end(const std::string& message) {
        std::thread([&] { callbacks_.ended(message); }).join();
    }

  private:
    std::string name_;
    std::string token_;
    platform::wall::FeedCallbacks callbacks_;
    std::shared_ptr<bool> alive_;
    std::shared_ptr<audio::SoundFeed> sound_;
};

// The feeds a view model gets: what it opened, and the feed it holds now.
class FakeWallFeeds {
  public:
    app::WallFeeds feeds() {
        app::WallFeeds f;
        f.openVideo = [this](const std::filesystem::path& file, platform::wall::FeedCallbacks callbacks,
                             std::string& error) -> std::unique_ptr<platform::wall::WallFeed> {
            openedVideos.push_back(file);
            return open(file.filename().string(), std::move(callbacks), error);
        };
        f.openScreen = [this](const platform::wall::ScreenShareTarget& target,
                              platform::wall::FeedCallbacks callbacks,
                              std::string& error) -> std::unique_ptr<platform::wall::WallFeed> {
            shareTargets.push_back(target);
            return open(screenName, std::move(callbacks), error);
        };
        f.listWindows = [this] { return windows; };
        f.usesPortal = [this] { return portal; };
        return f;
    }

    // The feed opened last, while the view model still holds it (else null).
    FakeWallFeed* current() const { return *alive_ ? last_ : nullptr; }
    bool running() const { return *alive_; }

    // What the next open does: fail with this message (empty: it opens).
    std::string refuseWith;
    std::string screenName = "Screen";
    std::string restoreToken;                 // the token an opened feed reports
    std::shared_ptr<audio::SoundFeed> sound;  // the sound an opened feed carries (null: none)
    bool portal = false;
    std::vector<platform::wall::ShareableWindow> windows;
    std::vector<std::filesystem::path> openedVideos;
    std::vector<platform::wall::ScreenShareTarget> shareTargets;

  private:
    std::unique_ptr<platform::wall::WallFeed> open(const std::string& name,
                                                   platform::wall::FeedCallbacks callbacks,
                                                   std::string& error) {
        if (!refuseWith.empty()) {
            error = refuseWith;
            return nullptr;
        }
        alive_ = std::make_shared<bool>(false);
        auto feed = std::make_unique<FakeWallFeed>(name, restoreToken, std::move(callbacks), alive_, sound);
        last_ = feed.get();
        return feed;
    }

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(false);
    FakeWallFeed* last_ = nullptr;
};

}  // namespace vantry::testing
