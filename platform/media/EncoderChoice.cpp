#include "platform/media/EncoderChoice.h"

namespace vantry::platform::media {
namespace {

H264Finding ask(H264Backend backend, const H264Probe& probe) {
    H264Finding finding{backend, probe.missingEncoder(backend)};
    if (finding.problem.empty()) finding.problem = probe.missingDevice(backend);
    if (finding.problem.empty()) finding.problem = probe.failedTestEncode(backend);
    return finding;
}

}  // namespace

const char* const kEncoderOptionHelp =
    "  --encoder E      H.264 encoder: auto (NVENC or VA-API where they work, else x264),\n"
    "                   x264, vaapi or nvenc (default auto)\n";

namespace {

struct Names {
    const char* choice;   // --encoder
    const char* encoder;  // FFmpeg's
    const char* title;
};
// Indexed by H264Backend; the choices x264, vaapi, nvenc follow `automatic` in the same order.
constexpr Names kNames[] = {
    {"x264", "libx264", "x264 (software)"},
    {"vaapi", "h264_vaapi", "VA-API (h264_vaapi)"},
    {"nvenc", "h264_nvenc", "NVENC (h264_nvenc)"},
};

}  // namespace

std::optional<H264Choice> parseH264Choice(std::string_view text) {
    if (text == "auto") return H264Choice::automatic;
    for (int i = 0; i < 3; ++i)
        if (text == kNames[i].choice) return H264Choice(i + 1);
    return std::nullopt;
}

const char* h264ChoiceName(H264Choice choice) {
    return choice == H264Choice::automatic ? "auto" : kNames[int(choice) - 1].choice;
}

const char* h264EncoderName(H264Backend backend) {
    return kNames[int(backend)].encoder;
}

const char* h264BackendTitle(H264Backend backend) {
    return kNames[int(backend)].title;
}

H264Decision decideH264(H264Choice choice, const H264Probe& probe) {
    H264Decision decision;
    if (choice == H264Choice::x264) return decision;
    if (choice != H264Choice::automatic) {
        const H264Backend wanted = H264Backend(int(choice) - 1);
        decision.findings.push_back(ask(wanted, probe));
        const std::string& problem = decision.findings.back().problem;
        if (problem.empty()) {
            decision.backend = wanted;
        } else {
            decision.error =
                std::string(h264BackendTitle(wanted)) + " cannot encode on this machine: " + problem;
        }
        return decision;
    }
    for (const H264Backend backend : kHardwareH264) {
        decision.findings.push_back(ask(backend, probe));
        if (decision.findings.back().problem.empty()) {
            decision.backend = backend;
            return decision;
        }
    }
    return decision;
}

}  // namespace vantry::platform::media
