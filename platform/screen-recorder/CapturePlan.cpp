#include "platform/screen-recorder/CapturePlan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace vantry::platform {
namespace {

constexpr int kReducedWidth = 1280;

// Slowest first; measured orders of magnitude for 8-bit 4:2:0 screen content.
constexpr std::array<std::pair<const char*, double>, 4> kPresets{{
    {"faster", 12e6},
    {"veryfast", 20e6},
    {"superfast", 32e6},
    {"ultrafast", 60e6},
}};

std::string sizeText(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

}  // namespace

double encoderPixelsPerCorePerSecond(const std::string& preset) {
    for (const auto& [name, rate] : kPresets)
        if (preset == name) return rate;
    return 0;
}

CapturePlan planCapture(int screenWidth, int screenHeight, int fps, unsigned cores,
                        const std::string& preset) {
    CapturePlan plan{screenWidth & ~1, screenHeight & ~1, preset, {}};
    const double encoderCores = std::max(1.0, double(cores) - 1.0);
    const auto fits = [&](int w, int h, const std::string& p) {
        const double rate = encoderPixelsPerCorePerSecond(p);
        return rate <= 0 || double(w) * double(h) * double(fps) <= rate * encoderCores;
    };
    if (plan.width <= 0 || plan.height <= 0 || fits(plan.width, plan.height, plan.preset)) return plan;

    if (plan.width > kReducedWidth) {
        plan.height = int(std::lround(double(screenHeight) * kReducedWidth / double(screenWidth))) & ~1;
        plan.width = kReducedWidth;
    }
    // Then ever faster presets, as far as the fastest one.
    auto it =
        std::find_if(kPresets.begin(), kPresets.end(), [&](const auto& p) { return plan.preset == p.first; });
    while (!fits(plan.width, plan.height, plan.preset) && it != kPresets.end() &&
           std::next(it) != kPresets.end()) {
        ++it;
        plan.preset = it->first;
    }
    std::string changes;
    if (plan.width != (screenWidth & ~1)) changes = " scaled to " + sizeText(plan.width, plan.height);
    if (plan.preset != preset) changes += " with the " + plan.preset + " preset";
    plan.note = "the encoder cannot keep up with " + sizeText(screenWidth & ~1, screenHeight & ~1) + " at " +
                std::to_string(fps) + " fps on " + std::to_string(cores) + (cores == 1 ? " core" : " cores") +
                ": recording" + changes;
    return plan;
}

}  // namespace vantry::platform
