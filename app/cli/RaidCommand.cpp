// "vantry-cli raid": prints a day's seeded raid as JSON.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "creator/replay-raids/OruDailySeededManhattanRaidV1250.h"

namespace {

std::chrono::sys_days parseDay(const std::string& text) {
    const auto bad = [&] {
        return vantry::app::cli::UsageError("option --date expects YYYY-MM-DD, got '" + text + "'");
    };
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') throw bad();
    for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
        if (text[i] < '0' || text[i] > '9') throw bad();
    }
    const std::chrono::year_month_day ymd{
        std::chrono::year{std::stoi(text.substr(0, 4))},
        std::chrono::month{static_cast<unsigned>(std::stoi(text.substr(5, 2)))},
        std::chrono::day{static_cast<unsigned>(std::stoi(text.substr(8, 2)))}};
    if (!ymd.ok()) throw vantry::app::cli::UsageError("option --date: " + text + " is not a calendar day");
    return std::chrono::sys_days{ymd};
}

int runRaid(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"date"});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    using Raid = vantry::creator::OruDailySeededManhattanRaidV1250;
    const auto date = parsed.value("date");
    const Raid raid = date ? Raid::today(parseDay(*date)) : Raid::today(std::chrono::system_clock::now());
    std::printf("%s\n", raid.encodeJson().c_str());
    return 0;
}

const vantry::app::cli::CommandRegistrar kRaid(
    {"raid", "Print a day's seeded raid as JSON",
     "Usage: vantry-cli raid [--date YYYY-MM-DD]\n\n"
     "Prints the raid of the given UTC day (today without --date): date, seed,\n"
     "storm cycle, featured boss, bonus multiplier and leaderboard id.",
     runRaid});

}  // namespace
