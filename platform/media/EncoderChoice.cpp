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

std::optional<H264Choice> parseH264Choice(std::string_view text) {
    if (text == "auto") return H264Choice::automatic;
    if (text == "x264") return H264Choice::x264;
    if (text == "vaapi") return H264Choice::vaapi;
    if (text == "nvenc") return H264Choice::nvenc;
    return std::nullopt;
}

const char* h264ChoiceName(H264Choice choice) {
    switch (choice) {
        case H264Choice::automatic:
            return "auto";
        case H264Choice::x264:
            return "x264";
        case H264Choice::vaapi:
            return "vaapi";
        case H264Choice::nvenc:
            return "nvenc";
    }
    return "auto";
}

const char* h264EncoderName(H264Backend backend) {
    switch (backend) {
        case H264Backend::x264:
            return "libx264";
        case H264Backend::vaapi:
            return "h264_vaapi";
        case H264Backend::nvenc:
            return "h264_nvenc";
    }
    return "libx264";
}

const char* h264BackendTitle(H264Backend backend) {
    switch (backend) {
        case H264Backend::x264:
            return "x264 (software)";
        case H264Backend::vaapi:
            return "VA-API (h264_vaapi)";
        case H264Backend::nvenc:
            return "NVENC (h264_nvenc)";
    }
    return "x264 (software)";
}

H264Decision decideH264(H264Choice choice, const H264Probe& probe) {
    H264Decision decision;
    if (choice == H264Choice::x264) return decision;
    if (choice != H264Choice::automatic) {
        const H264Backend wanted = choice == H264Choice::vaapi ? H264Backend::vaapi : H264Backend::nvenc;
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
