#include "platform/gameservice/LinuxGameService.h"

namespace vantry::platform {

LinuxGameService& LinuxGameService::shared() {
    static LinuxGameService service;
    return service;
}

void LinuxGameService::submitScore(std::int64_t, std::uint64_t, const std::vector<std::string>&,
                                   std::function<void(const std::string& error)> completion) {
    // Reached only by callers that skip the sign-in check; report the refusal like a service would.
    if (completion) completion("No player is signed in to a game service on this system.");
}

}  // namespace vantry::platform
