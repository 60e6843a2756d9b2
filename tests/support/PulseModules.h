// Sound devices that come and go in a test's private PulseAudio server (PULSE_SERVER set):
// null sinks loaded and unloaded through pactl, tones played into them, and a latch on a
// ProgrammeSound-style tap that holds until sound arrives.
#pragma once

#include <string>

#include "tests/support/ShellCommand.h"

namespace vantry::testing {

// Loads a null sink named `name` (its monitor is "<name>.monitor"); the module's index, or -1.
inline int loadNullSink(const std::string& name) {
    const ShellResult r =
        runShell("pactl load-module module-null-sink sink_name=" + shellQuote(name) + " rate=48000");
    if (r.exitCode != 0) return -1;
    try {
        return std::stoi(r.out);
    } catch (...) {
        return -1;
    }
}

inline bool unloadModule(int index) {
    return runShell("pactl unload-module " + std::to_string(index)).exitCode == 0;
}

// Root mean square of samples [from, to) (clamped).
template <class Samples>
double rms(const Samples& samples, std::size_t from, std::size_t to) {
    to = std::min(to, std::size_t(samples.size()));
    if (from >= to) return 0;
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from));
}

}  // namespace vantry::testing
