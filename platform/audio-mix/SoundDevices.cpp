#include "platform/audio-mix/SoundDevices.h"

#include <cstdio>
#include <sstream>

#include "platform/media/PulseCapture.h"

namespace vantry::platform {
namespace {

// Output of a pactl command in the C locale; false when it could not run or failed.
bool runPactl(const std::string& arguments, std::string& out) {
    const std::string command = "LC_ALL=C pactl " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return false;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    const int status = ::pclose(pipe);
    return status == 0;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string field(const std::string& info, const std::string& name) {
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(name, 0) == 0) return trim(line.substr(name.size()));
    return {};
}

}  // namespace

std::vector<SoundDevice> parsePactlList(const std::string& text) {
    std::vector<SoundDevice> devices;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Source #", 0) == 0 || line.rfind("Sink #", 0) == 0) {
            devices.emplace_back();
            continue;
        }
        if (devices.empty()) continue;
        const std::string t = trim(line);
        SoundDevice& d = devices.back();
        if (t.rfind("Name:", 0) == 0)
            d.name = trim(t.substr(5));
        else if (t.rfind("Description:", 0) == 0)
            d.description = trim(t.substr(12));
        else if (t.rfind("Monitor of Sink:", 0) == 0) {
            d.monitorOf = trim(t.substr(16));
            if (d.monitorOf == "n/a") d.monitorOf.clear();
        }
    }
    return devices;
}

bool soundServerAnswers() {
    std::vector<media::PulseSourceInfo> sources;
    std::string error;
    return media::listPulseSources(sources, error);
}

SoundDevices listSoundDevices() {
    SoundDevices d;
    std::string info;
    if (!runPactl("info", info)) {
        // pactl's first line says it ("Connection failure: Connection refused").
        d.error = info.empty() ? "pactl could not run" : trim(info.substr(0, info.find('\n')));
        return d;
    }
    d.serverFound = true;
    d.defaultInput = field(info, "Default Source:");
    d.defaultOutput = field(info, "Default Sink:");
    std::string sources, sinks;
    if (runPactl("list sources", sources)) d.inputs = parsePactlList(sources);
    if (runPactl("list sinks", sinks)) d.outputs = parsePactlList(sinks);
    return d;
}

}  // namespace vantry::platform
