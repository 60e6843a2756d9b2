#include "creator/replay-raids/OruWeaponCoreHapticsV1250.h"

#include <mutex>
#include <utility>

namespace vantry::creator {

namespace {

struct SignatureRow {
    std::string_view name;
    OruHapticEvent event;
};

constexpr SignatureRow kRows[] = {
    {"mk18CrispSear", {OruHapticEventType::transient, 0.65f, 0.85f, 0.04}},
    {"benelliM4HeavyThump", {OruHapticEventType::continuous, 1.0f, 0.35f, 0.11}},
    {"magnum50HandCannon", {OruHapticEventType::transient, 0.92f, 0.60f, 0.08}},
    {"headshotSkullPopCrunch", {OruHapticEventType::transient, 0.95f, 0.95f, 0.06}},
    {"conEdCoreElectricHum", {OruHapticEventType::continuous, 0.32f, 0.72f, 0.18}},
    {"substationPowerSurge", {OruHapticEventType::continuous, 1.0f, 0.80f, 0.35}},
};

const SignatureRow& row(OruWeaponHapticSignatureV1250 signature) {
    return kRows[static_cast<std::size_t>(signature)];
}

std::mutex& factoryMutex() {
    static std::mutex m;
    return m;
}

OruHapticEngineFactory& installedFactory() {
    static OruHapticEngineFactory f;
    return f;
}

}  // namespace

std::string_view rawValue(OruWeaponHapticSignatureV1250 signature) {
    return row(signature).name;
}

std::optional<OruWeaponHapticSignatureV1250> weaponHapticSignatureFromRawValue(std::string_view raw) {
    for (auto signature : kAllWeaponHapticSignatures) {
        if (rawValue(signature) == raw) return signature;
    }
    return std::nullopt;
}

OruHapticEvent hapticEvent(OruWeaponHapticSignatureV1250 signature) {
    return row(signature).event;
}

OruWeaponCoreHapticsV1250& OruWeaponCoreHapticsV1250::shared() {
    static OruWeaponCoreHapticsV1250 instance([] {
        std::lock_guard lock(factoryMutex());
        return installedFactory();
    }());
    return instance;
}

void OruWeaponCoreHapticsV1250::installEngineFactory(OruHapticEngineFactory factory) {
    std::lock_guard lock(factoryMutex());
    installedFactory() = std::move(factory);
}

OruWeaponCoreHapticsV1250::OruWeaponCoreHapticsV1250(const OruHapticEngineFactory& makeEngine) {
    if (!makeEngine) return;
    engine_ = makeEngine();
    if (engine_) (void)engine_->start();
}

void OruWeaponCoreHapticsV1250::play(OruWeaponHapticSignatureV1250 signature) {
    triggeredCount_.fetch_add(1, std::memory_order_relaxed);
    if (!engine_) return;
    (void)engine_->playEvent(hapticEvent(signature));
}

}  // namespace vantry::creator
