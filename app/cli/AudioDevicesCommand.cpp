// "vantry-cli audio-devices": the sound server's inputs and outputs, with the names --mic takes.
#include <cstdio>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "platform/audio-mix/SoundDevices.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

int runAudioDevices(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const auto devices = vantry::platform::listSoundDevices();
    if (!devices.serverFound) throw CommandError("no sound server answers: " + devices.error);
    const auto print = [](const vantry::platform::SoundDevice& d, const std::string& defaultName) {
        std::printf("  %s%s  %s\n", d.name.c_str(), d.name == defaultName ? " (default)" : "",
                    d.description.c_str());
    };
    std::printf("Inputs:\n");
    for (const auto& d : devices.inputs)
        if (d.monitorOf.empty()) print(d, devices.defaultInput);
    std::printf("Outputs (their monitors carry what they play):\n");
    for (const auto& d : devices.inputs)
        if (!d.monitorOf.empty()) print(d, devices.defaultInput);
    std::printf("Output devices:\n");
    for (const auto& d : devices.outputs) print(d, devices.defaultOutput);
    std::fflush(stdout);
    return 0;
}

const vantry::app::cli::CommandRegistrar kAudioDevices(
    {"audio-devices", "List the sound server's inputs and outputs",
     "Usage: vantry-cli audio-devices\n\n"
     "Lists the sound server's inputs (microphones), the monitors of its outputs (what each\n"
     "output plays, as \"Desktop Audio\" takes it) and the outputs themselves, each with the\n"
     "name that --mic takes and its description; the defaults are marked. Exits 1 when no\n"
     "sound server answers.",
     runAudioDevices});

}  // namespace
