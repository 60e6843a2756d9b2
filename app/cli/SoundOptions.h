// The sound options of the commands whose output carries the programme sound (stream, record):
// --mic SOURCE, --desktop-audio on|off, --voice-filters on|off.
#pragma once

#include <string>

#include "app/cli/Args.h"
#include "platform/audio-mix/ProgrammeSound.h"

namespace vantry::app::cli {

// The programme sound the options ask for. micSource: the microphone's source when --mic is not
// given (empty: none); desktopDefault: whether the desktop's sound is in without --desktop-audio.
inline platform::ProgrammeSoundOptions parseSoundOptions(const Args& args, const std::string& micSource,
                                                         bool desktopDefault) {
    platform::ProgrammeSoundOptions options;
    options.micSource = micSource;
    if (const auto mic = args.value("mic")) {
        if (mic->empty()) throw UsageError("option --mic needs a sound-server source name");
        options.micSource = *mic;
    }
    if (!args.onOff("desktop-audio").value_or(desktopDefault)) options.desktopSource.clear();
    options.voiceFilters = args.onOff("voice-filters").value_or(true);
    return options;
}

inline const char* const kSoundOptionHelp =
    "  --mic SOURCE     the microphone: a sound-server source name, as 'vantry-cli\n"
    "                   audio-devices' lists them (default: the default input)\n"
    "  --desktop-audio on|off  the desktop's sound (the monitor of the default output) in\n"
    "                   the mix\n"
    "  --voice-filters on|off  the microphone's voice filters (default on)\n";

}  // namespace vantry::app::cli
