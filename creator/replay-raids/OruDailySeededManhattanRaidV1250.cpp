#include "creator/replay-raids/OruDailySeededManhattanRaidV1250.h"

#include <atomic>
#include <charconv>
#include <cstdio>

#include "common/JsonText.h"

namespace vantry::creator {

std::uint64_t OruDailySeededManhattanRaidV1250::fnv1a64(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string OruDailySeededManhattanRaidV1250::formatDateISO(std::chrono::sys_days day) {
    const std::chrono::year_month_day ymd{day};
    int year = static_cast<int>(ymd.year());
    if (year <= 0) year = 1 - year;  // year of the era before the common era
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", year, static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    return buf;
}

OruDailySeededManhattanRaidV1250 OruDailySeededManhattanRaidV1250::today(std::chrono::sys_days day) {
    OruDailySeededManhattanRaidV1250 raid;
    raid.dateISO = formatDateISO(day);
    const std::uint64_t s = fnv1a64(raid.dateISO);
    raid.globalSeed = s;
    raid.featuredBossCallsign = std::string(bossCallsigns[s % 5]);
    raid.squallCycleSec = static_cast<std::int64_t>(s % 45) + 95;
    raid.bonusScrapMultiplier = static_cast<double>(s & 3) / 4.0 + 1.5;
    raid.leaderboardID = std::string(leaderboardPrefix) + ".grimfall.daily_raid_score";
    return raid;
}

OruDailySeededManhattanRaidV1250 OruDailySeededManhattanRaidV1250::today(
    std::chrono::system_clock::time_point when) {
    return today(std::chrono::floor<std::chrono::days>(when));
}

std::string OruDailySeededManhattanRaidV1250::encodeJson() const {
    std::string out = "{\"dateISO\":";
    vantry::json::appendQuoted(out, dateISO);
    out += ",\"globalSeed\":" + std::to_string(globalSeed);
    out += ",\"squallCycleSec\":" + std::to_string(squallCycleSec);
    out += ",\"featuredBossCallsign\":";
    vantry::json::appendQuoted(out, featuredBossCallsign);
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, bonusScrapMultiplier);
    std::string number(buf, res.ptr);
    if (number.find_first_of(".e") == std::string::npos) number += ".0";
    out += ",\"bonusScrapMultiplier\":" + number;
    out += ",\"leaderboardID\":";
    vantry::json::appendQuoted(out, leaderboardID);
    out += '}';
    return out;
}

void OruDailySeededManhattanRaidV1250::submitDailyScoreToGameCenter(std::int64_t score) const {
    submitDailyScoreToGameCenter(score, GameLeaderboardService::current());
}

void OruDailySeededManhattanRaidV1250::submitDailyScoreToGameCenter(std::int64_t score,
                                                                    GameLeaderboardService& service) const {
    if (!service.isLocalPlayerAuthenticated()) return;
    service.submitScore(score, globalSeed & 0xFFFFu, {leaderboardID}, [](const std::string&) {});
}

}  // namespace vantry::creator
