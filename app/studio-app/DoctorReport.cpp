#include "app/studio-app/DoctorReport.h"

#include <cmath>
#include <cstdio>

#include "common/JsonText.h"

namespace vantry::app {
namespace {

void appendDevices(std::string& out, const std::vector<DoctorReport::Device>& devices) {
    if (devices.empty()) {
        out += "[]";
        return;
    }
    out += "[\n";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        out += "    {\"name\": ";
        json::appendQuoted(out, devices[i].name);
        out += ", \"id\": ";
        json::appendQuoted(out, devices[i].id);
        out += i + 1 < devices.size() ? "},\n" : "}\n";
    }
    out += "  ]";
}

void appendRate(std::string& out, const std::optional<double>& rate) {
    if (!rate || !std::isfinite(*rate)) {
        out += "null";
        return;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.1f", *rate);
    out += buffer;
}

}  // namespace

std::string doctorReportJson(const DoctorReport& r) {
    std::string out = "{\n  \"glRenderer\": ";
    json::appendQuoted(out, r.glRenderer);
    out += ",\n  \"glVersion\": ";
    if (r.glVersion) {
        json::appendQuoted(out, *r.glVersion);
    } else {
        out += "null";
    }
    out += ",\n  \"displayServer\": ";
    json::appendQuoted(out, r.displayServer);
    out += ",\n  \"cameras\": ";
    appendDevices(out, r.cameras);
    out += ",\n  \"audioInputs\": ";
    appendDevices(out, r.audioInputs);
    out += ",\n  \"audioOutputs\": ";
    appendDevices(out, r.audioOutputs);
    out += ",\n  \"soundServer\": ";
    json::appendQuoted(out, r.soundServer);
    out += ",\n  \"v4l2loopbackDevices\": ";
    appendDevices(out, r.v4l2loopbackDevices);
    out += ",\n  \"modelFiles\": ";
    if (r.modelFiles.empty()) {
        out += "[]";
    } else {
        out += "[\n";
        for (std::size_t i = 0; i < r.modelFiles.size(); ++i) {
            out += "    {\"path\": ";
            json::appendQuoted(out, r.modelFiles[i].path);
            out += r.modelFiles[i].present ? ", \"present\": true" : ", \"present\": false";
            out += i + 1 < r.modelFiles.size() ? "},\n" : "}\n";
        }
        out += "  ]";
    }
    out += ",\n  \"uiFramesPerSecond\": ";
    appendRate(out, r.uiFramesPerSecond);
    out += ",\n  \"studioFramesPerSecond\": ";
    appendRate(out, r.studioFramesPerSecond);
    if (r.h264Encoder) {
        out += ",\n  \"h264Encoder\": ";
        json::appendQuoted(out, *r.h264Encoder);
        out += ",\n  \"hardwareEncoders\": [";
        for (std::size_t i = 0; i < r.hardwareEncoders.size(); ++i) {
            out += i == 0 ? "\n    {\"name\": " : ",\n    {\"name\": ";
            json::appendQuoted(out, r.hardwareEncoders[i].name);
            out += r.hardwareEncoders[i].problem.empty() ? ", \"usable\": true, \"problem\": "
                                                         : ", \"usable\": false, \"problem\": ";
            json::appendQuoted(out, r.hardwareEncoders[i].problem);
            out += "}";
        }
        out += r.hardwareEncoders.empty() ? "]" : "\n  ]";
    }
    if (r.screenCapture) {
        out += ",\n  \"screenCapture\": ";
        json::appendQuoted(out, *r.screenCapture);
        out += ",\n  \"screenCaptureProblem\": ";
        json::appendQuoted(out, r.screenCaptureProblem);
    }
    out += "\n}\n";
    return out;
}

std::string displayServerName(const char* waylandDisplay, const char* display) {
    if (waylandDisplay && *waylandDisplay) return "wayland";
    if (display && *display) return "x11";
    return "none";
}

std::string soundServerName(bool pipewireSocket, bool pulseSocketOrServer) {
    if (pipewireSocket) return "PipeWire";
    if (pulseSocketOrServer) return "PulseAudio";
    return "none";
}

}  // namespace vantry::app
