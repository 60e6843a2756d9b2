// What the daily raid needs from a game service is the adapter's interface (platform/gameservice).
#pragma once

#include "platform/gameservice/GameLeaderboardService.h"

namespace vantry::creator {

using platform::GameLeaderboardService;

}  // namespace vantry::creator
