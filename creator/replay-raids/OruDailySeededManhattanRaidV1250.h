// The daily seeded raid: every player gets the same raid parameters for the same UTC day.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "creator/replay-raids/GameLeaderboardService.h"

namespace vantry::creator {

struct OruDailySeededManhattanRaidV1250 {
    static constexpr std::string_view leaderboardPrefix = "pro.vantry";
    static constexpr std::array<std::string_view, 5> bossCallsigns{
        "IRON JAW", "MERCY SCALPEL", "CONED REAPER", "SUBWAY BUTCHER", "TIMES SQUARE HOWLER"};

    std::string dateISO;
    std::uint64_t globalSeed = 0;
    std::int64_t squallCycleSec = 0;
    std::string featuredBossCallsign;
    double bonusScrapMultiplier = 0;
    std::string leaderboardID;

    // The raid of the UTC calendar day containing the given instant, whatever the process's time zone
    // and locale ("yyyy-MM-dd" always in Western digits).
    static OruDailySeededManhattanRaidV1250 today(std::chrono::system_clock::time_point when);
    static OruDailySeededManhattanRaidV1250 today(std::chrono::sys_days day);

    // 64-bit FNV-1a of the bytes.
    static std::uint64_t fnv1a64(std::string_view bytes);
    // The day as "yyyy-MM-dd" (years before 1 are written as the era's year, at least four digits).
    static std::string formatDateISO(std::chrono::sys_days day);

    // Keyed JSON record, keys in field order.
    std::string encodeJson() const;

    // Submits through the installed game service; returns at once when no player is signed in.
    void submitDailyScoreToGameCenter(std::int64_t score) const;
    void submitDailyScoreToGameCenter(std::int64_t score, GameLeaderboardService& service) const;

    friend bool operator==(const OruDailySeededManhattanRaidV1250&,
                           const OruDailySeededManhattanRaidV1250&) = default;
};

}  // namespace vantry::creator
