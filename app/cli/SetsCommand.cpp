// "vantry-cli sets": lists the studio sets and camera angles.
#include <cstdio>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "studio/StudioCatalogue.h"

namespace {

int runSets(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    std::printf("Sets:\n");
    for (auto set : vantry::BroadcastStudioSet::allCases()) {
        std::printf("  %-16.*s %.*s (%.*s)\n", int(set.rawValue().size()), set.rawValue().data(),
                    int(set.title().size()), set.title().data(), int(set.subtitle().size()),
                    set.subtitle().data());
    }
    std::printf("Camera angles:\n");
    for (auto angle : vantry::BroadcastCameraAngle::allCases()) {
        std::printf("  %d  %.*s\n", angle.rawValue(), int(angle.title().size()), angle.title().data());
    }
    return 0;
}

const vantry::app::cli::CommandRegistrar kSets(
    {"sets", "List the studio sets and camera angles",
     "Usage: vantry-cli sets\n\nLists the set ids (for --set) and the "
     "camera angles (for --angle).",
     runSets});

}  // namespace
