// Game service stand-in for Linux: there is no platform player identity, so no player is ever
// signed in and nothing is submitted.
#pragma once

#include "platform/gameservice/GameLeaderboardService.h"

namespace vantry::platform {

class LinuxGameService final : public GameLeaderboardService {
  public:
    static LinuxGameService& shared();

    bool isLocalPlayerAuthenticated() const override { return false; }
    void submitScore(std::int64_t score, std::uint64_t context,
                     const std::vector<std::string>& leaderboardIDs,
                     std::function<void(const std::string& error)> completion) override;
};

}  // namespace vantry::platform
