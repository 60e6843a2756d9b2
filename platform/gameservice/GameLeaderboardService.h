// What the daily raid needs from a game service: the local player's sign-in and score submission.
// LinuxGameService is the adapter on Linux.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vantry::platform {

class GameLeaderboardService {
  public:
    virtual ~GameLeaderboardService() = default;

    virtual bool isLocalPlayerAuthenticated() const = 0;
    // completion receives an empty string on success, the service's error text otherwise; it may run on
    // any thread.
    virtual void submitScore(std::int64_t score, std::uint64_t context,
                             const std::vector<std::string>& leaderboardIDs,
                             std::function<void(const std::string& error)> completion) = 0;

    // The service used when a caller names none. Until one is installed this is a service with no
    // signed-in player. Installing nullptr restores that.
    static GameLeaderboardService& current();
    static void install(GameLeaderboardService* service);
};

}  // namespace vantry::platform
