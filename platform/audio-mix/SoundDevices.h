// The sound server's devices, as `pactl` (pulseaudio-utils) lists them: inputs (sources, the
// monitors of outputs among them) and outputs (sinks), each with its name and description.
#pragma once

#include <string>
#include <vector>

namespace vantry::platform {

struct SoundDevice {
    std::string name;         // what a capture opens ("alsa_input.usb-...", "vantry_test.monitor")
    std::string description;  // what the user reads
    std::string monitorOf;    // a source: the sink it is the monitor of; empty for a real input
};

struct SoundDevices {
    bool serverFound = false;
    std::string error;  // why not, when not
    std::vector<SoundDevice> inputs;
    std::vector<SoundDevice> outputs;
    std::string defaultInput;
    std::string defaultOutput;
};

// Asks the sound server (PULSE_SERVER or the session's) through pactl.
SoundDevices listSoundDevices();
// Whether a sound server answers at all (asked through the media layer, no process started).
bool soundServerAnswers();

// The "Name:", "Description:" and "Monitor of Sink:" fields of each entry of `pactl list
// sources` or `pactl list sinks` (run in the C locale).
std::vector<SoundDevice> parsePactlList(const std::string& text);

}  // namespace vantry::platform
