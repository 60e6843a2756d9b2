// "vantry-cli haptics": plays one weapon haptic signature on the first game controller with rumble.
#include <cstdio>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "creator/replay-raids/OruWeaponCoreHapticsV1250.h"
#include "platform/haptics/SdlControllerRumble.h"

namespace {

std::string signatureList() {
    std::string names;
    for (auto s : vantry::creator::kAllWeaponHapticSignatures) {
        if (!names.empty()) names += ", ";
        names += vantry::creator::rawValue(s);
    }
    return names;
}

int runHaptics(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"signature"});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string name = parsed.required("signature");
    const auto signature = vantry::creator::weaponHapticSignatureFromRawValue(name);
    if (!signature)
        throw vantry::app::cli::UsageError("unknown signature '" + name + "'; one of: " + signatureList());

    // The shared player plays on the first rumble controller.
    vantry::creator::OruWeaponCoreHapticsV1250::installEngineFactory(
        []() -> std::unique_ptr<vantry::platform::OruHapticEngine> {
            return vantry::platform::haptics::SdlControllerRumble::openFirst();
        });
    auto& haptics = vantry::creator::OruWeaponCoreHapticsV1250::shared();
    haptics.play(*signature);
    auto* rumble = dynamic_cast<vantry::platform::haptics::SdlControllerRumble*>(haptics.engine());
    if (rumble == nullptr) {
        std::printf("No game controller with rumble; %s counted but not felt.\n", name.c_str());
        return 0;
    }
    const auto& pulse = rumble->lastPulse();
    std::printf("Played %s on %s: low-frequency motor %u, high-frequency motor %u, %u ms.\n", name.c_str(),
                rumble->name().c_str(), static_cast<unsigned>(pulse.lowFrequency),
                static_cast<unsigned>(pulse.highFrequency), static_cast<unsigned>(pulse.durationMs));
    rumble->pumpFor(pulse.durationMs / 1000.0 + 0.05);  // let the rumble run out before the controller closes
    return 0;
}

const vantry::app::cli::CommandRegistrar kHaptics(
    {"haptics", "Play a weapon haptic signature on the first game controller",
     "Usage: vantry-cli haptics --signature NAME\n\n"
     "Plays one signature as a rumble on the first game controller that has rumble motors, or says\n"
     "that there is none (exit 0 either way). NAME is one of: mk18CrispSear, benelliM4HeavyThump,\n"
     "magnum50HandCannon, headshotSkullPopCrunch, conEdCoreElectricHum, substationPowerSurge.\n"
     "Intensity is shared between the motors by sharpness: low = intensity * sqrt(1 - sharpness),\n"
     "high = intensity * sqrt(sharpness); the rumble lasts the signature's duration.",
     runHaptics});

}  // namespace
