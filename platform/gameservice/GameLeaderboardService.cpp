#include "platform/gameservice/GameLeaderboardService.h"

#include <atomic>

namespace vantry::platform {
namespace {

class NoPlayerService final : public GameLeaderboardService {
  public:
    bool isLocalPlayerAuthenticated() const override { return false; }
    void submitScore(std::int64_t, std::uint64_t, const std::vector<std::string>&,
                     std::function<void(const std::string&)>) override {}
};

NoPlayerService& noPlayerService() {
    static NoPlayerService service;
    return service;
}

std::atomic<GameLeaderboardService*> installedService{nullptr};

}  // namespace

GameLeaderboardService& GameLeaderboardService::current() {
    GameLeaderboardService* s = installedService.load();
    return s ? *s : static_cast<GameLeaderboardService&>(noPlayerService());
}

void GameLeaderboardService::install(GameLeaderboardService* service) {
    installedService.store(service);
}

}  // namespace vantry::platform
