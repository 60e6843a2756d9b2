// Sound devices that come and go in a test's private PulseAudio server (PULSE_SERVER set):
// null sinks loaded and unloaded through pactl, tones played into them, and a latch on a
// ProgrammeSound-style tap that holds until sound arrives.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "platform/audio-mix/ProgrammeSound.h"
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

// Latch on a programme sound tap: holds once one of its blocks carries sound (at most 10 s of
// blocks are looked at).
inline bool soundArrives(platform::ProgrammeSound::Tap& tap) {
    platform::ProgrammeSound::Block block;
    for (int i = 0; i < 1000; ++i) {
        if (!tap.pop(block, std::chrono::seconds(1))) return false;
        if (rms(block.left, 0, block.left.size()) > 0.05) return true;
    }
    return false;
}

}  // namespace vantry::testing
