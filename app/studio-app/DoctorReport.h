// What `vantry-cli doctor` reports for a problem report, and its JSON form. Pure, no Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantry::app {

struct DoctorReport {
    struct Device {
        std::string name;
        std::string id;  // device path or system identifier
    };
    struct ModelFile {
        std::string path;
        bool present = false;
    };

    std::string glRenderer;
    std::optional<std::string> glVersion;  // absent without a display
    std::string displayServer;             // "x11", "wayland" or "none"
    std::vector<Device> cameras;
    std::vector<Device> audioInputs;
    std::vector<Device> audioOutputs;
    std::string soundServer;  // "PipeWire", "PulseAudio" or "none"
    std::vector<Device> v4l2loopbackDevices;
    std::vector<ModelFile> modelFiles;
    std::optional<double> uiFramesPerSecond;      // absent without a display
    std::optional<double> studioFramesPerSecond;  //

    // The H.264 encoder export, recording and streaming use by default ("libx264", "h264_nvenc",
    // "h264_vaapi"), and every hardware encoder with the reason it is not used (empty: usable).
    // Absent: not surveyed, and neither key is written.
    struct Encoder {
        std::string name;
        std::string problem;
    };
    std::optional<std::string> h264Encoder;
    std::vector<Encoder> hardwareEncoders;

    // The path a screen recording would take ("portal", "x11" or "none") and, for none, why.
    // Absent: not surveyed, and neither key is written.
    std::optional<std::string> screenCapture;
    std::string screenCaptureProblem;
};

// One JSON object, two-space indented, keys in the order of the fields above;
// frame rates with one decimal, absent values as null.
std::string doctorReportJson(const DoctorReport& report);

// "x11", "wayland" or "none" from the session's environment values (null: unset).
std::string displayServerName(const char* waylandDisplay, const char* display);
// "PipeWire" when its socket exists, else "PulseAudio" when a pulse socket or server is there, else "none".
std::string soundServerName(bool pipewireSocket, bool pulseSocketOrServer);

}  // namespace vantry::app
