#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <locale>

#include "creator/replay-raids/OruDailySeededManhattanRaidV1250.h"
#include "platform/gameservice/LinuxGameService.h"

using namespace vantry::creator;
using namespace std::chrono;
using Raid = OruDailySeededManhattanRaidV1250;

namespace {

// Runs the body under a far-from-UTC time zone and, where the system has one, a locale whose
// native digits are not Western.
class ForeignZoneAndLocale {
  public:
    ForeignZoneAndLocale() {
        if (const char* tz = std::getenv("TZ")) oldTz_ = tz, hadTz_ = true;
        setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14
        tzset();
        for (const char* name : {"ar_EG.UTF-8", "fa_IR.UTF-8", "hi_IN.UTF-8", "C.UTF-8"}) {
            if (std::setlocale(LC_ALL, name)) break;
        }
    }
    ~ForeignZoneAndLocale() {
        if (hadTz_)
            setenv("TZ", oldTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        std::setlocale(LC_ALL, "C");
    }

  private:
    std::string oldTz_;
    bool hadTz_ = false;
};

class RecordingService : public GameLeaderboardService {
  public:
    bool signedIn = true;
    int calls = 0;
    std::int64_t score = 0;
    std::uint64_t context = 0;
    std::vector<std::string> ids;
    bool isLocalPlayerAuthenticated() const override { return signedIn; }
    void submitScore(std::int64_t s, std::uint64_t c, const std::vector<std::string>& i,
                     std::function<void(const std::string&)> done) override {
        ++calls, score = s, context = c, ids = i;
        done("network down");  // the raid ignores it
    }
};

}  // namespace

TEST(DailyRaid, ReferenceDaysUnderForeignZoneAndLocale) {
    ForeignZoneAndLocale guard;
    // 23:30 UTC on 2026-01-01 is already 2 January in Kiritimati.
    const auto lateNewYear = sys_days{2026y / January / 1} + 23h + 30min;
    const auto r = Raid::today(lateNewYear);
    EXPECT_EQ(r.dateISO, "2026-01-01");
    EXPECT_EQ(r.globalSeed, 0xfb2d6f17ddc32803ull);
    EXPECT_EQ(r.featuredBossCallsign, "TIMES SQUARE HOWLER");
    EXPECT_EQ(r.squallCycleSec, 99);
    EXPECT_EQ(r.bonusScrapMultiplier, 2.25);
    EXPECT_EQ(r.leaderboardID, "pro.vantry.grimfall.daily_raid_score");

    const auto june = Raid::today(sys_days{2025y / June / 15} + 1s);
    EXPECT_EQ(june.dateISO, "2025-06-15");
    EXPECT_EQ(june.globalSeed, 0x35d11d78f2ddb550ull);
    EXPECT_EQ(june.featuredBossCallsign, "IRON JAW");
    EXPECT_EQ(june.squallCycleSec, 120);
    EXPECT_EQ(june.bonusScrapMultiplier, 1.5);

    // Two instants on the same UTC day, and the first instant of the next one.
    EXPECT_EQ(Raid::today(sys_days{2026y / January / 1}), r);
    EXPECT_EQ(Raid::today(sys_days{2026y / January / 2} - 1ns), r);
    EXPECT_EQ(Raid::today(sys_days{2026y / January / 2}).dateISO, "2026-01-02");
}

TEST(DailyRaid, DerivedFieldsStayInRangeAcrossYears) {
    for (auto d = sys_days{1969y / December / 25}; d < sys_days{1971y / January / 10}; d += days{1}) {
        const auto r = Raid::today(d);
        EXPECT_EQ(r.dateISO.size(), 10u);
        EXPECT_EQ(r.globalSeed, Raid::fnv1a64(r.dateISO));
        EXPECT_GE(r.squallCycleSec, 95);
        EXPECT_LE(r.squallCycleSec, 139);
        EXPECT_EQ(r.featuredBossCallsign, Raid::bossCallsigns[r.globalSeed % 5]);
    }
    EXPECT_EQ(Raid::today(sys_days{1969y / December / 31} + 12h).dateISO, "1969-12-31");
    EXPECT_EQ(Raid::formatDateISO(sys_days{2000y / February / 29}), "2000-02-29");
}

TEST(DailyRaid, KeyedJsonInFieldOrder) {
    const auto r = Raid::today(sys_days{2025y / June / 15});
    EXPECT_EQ(
        r.encodeJson(),
        "{\"dateISO\":\"2025-06-15\",\"globalSeed\":" + std::to_string(0x35d11d78f2ddb550ull) +
            ",\"squallCycleSec\":120,\"featuredBossCallsign\":\"IRON JAW\",\"bonusScrapMultiplier\":1.5,"
            "\"leaderboardID\":\"pro.vantry.grimfall.daily_raid_score\"}");
}

TEST(DailyRaid, ScoreSubmission) {
    const auto r = Raid::today(sys_days{2026y / January / 1});
    RecordingService service;
    r.submitDailyScoreToGameCenter(4200, service);
    EXPECT_EQ(service.calls, 1);
    EXPECT_EQ(service.score, 4200);
    EXPECT_EQ(service.context, 0x2803u);
    EXPECT_EQ(service.ids, std::vector<std::string>{r.leaderboardID});

    service.signedIn = false;
    r.submitDailyScoreToGameCenter(1, service);
    EXPECT_EQ(service.calls, 1);

    // With nothing installed, and with the Linux stand-in, there is no player: nothing happens.
    EXPECT_FALSE(vantry::platform::LinuxGameService::shared().isLocalPlayerAuthenticated());
    r.submitDailyScoreToGameCenter(5);
    GameLeaderboardService::install(&service);
    service.signedIn = true;
    r.submitDailyScoreToGameCenter(6);
    EXPECT_EQ(service.calls, 2);
    GameLeaderboardService::install(&vantry::platform::LinuxGameService::shared());
    r.submitDailyScoreToGameCenter(7);
    EXPECT_EQ(service.calls, 2);
    GameLeaderboardService::install(nullptr);
}
