#include "creator/clips-and-juice/OruJuicePhysicsKernelV1030.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace vantry::creator {

namespace {

constexpr double kMinStep = 1.0 / 240.0;
constexpr double kMaxStep = 0.05;
constexpr double kHitStopEpsilon = 0.0001;

OruJuiceFloatingPopupV1030::Uuid randomUuid() {
    thread_local std::mt19937_64 rng{[] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }()};
    OruJuiceFloatingPopupV1030::Uuid id{};
    const std::uint64_t a = rng(), b = rng();
    for (int i = 0; i < 8; ++i) {
        id[i] = static_cast<std::uint8_t>(a >> (8 * i));
        id[8 + i] = static_cast<std::uint8_t>(b >> (8 * i));
    }
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x40);  // version 4
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

void relaxSquash(double& s, double d) {
    s += (1.0 - s) * std::min(14.0 * d, 1.0);
}

template <typename T>
void applyImpact(T& s, double intensity, double hitStopSeconds) {
    const double i = juiceImpactIntensity(intensity);
    s.trauma = std::min(s.trauma + 0.85 * i, 1.0);
    s.hitStopRemaining = std::max(s.hitStopRemaining, hitStopSeconds);
    s.squashScaleX = 1.0 + 0.28 * i;
    s.squashScaleY = std::max(1.0 - 0.24 * i, 0.68);
    s.totalImpactCount += 1;
}

}  // namespace

double juiceStepDuration(double dt) {
    if (!(dt > kMinStep)) return kMinStep;
    return dt > kMaxStep ? kMaxStep : dt;
}

double juiceImpactIntensity(double intensity) {
    return intensity < 1.0 ? std::max(intensity, 0.05) : 1.0;
}

void OruJuicePhysicsKernelV1030::triggerImpact(double intensity, double hitStopSeconds) {
    applyImpact(*this, intensity, hitStopSeconds);
}

bool OruJuicePhysicsKernelV1030::step(double dt) {
    const double d = juiceStepDuration(dt);
    if (hitStopRemaining > 0) hitStopRemaining = std::max(hitStopRemaining - d, 0.0);
    trauma = std::max(trauma - 1.9 * d, 0.0);
    relaxSquash(squashScaleX, d);
    relaxSquash(squashScaleY, d);
    return hitStopRemaining > kHitStopEpsilon;
}

OruJuiceFloatingPopupV1030::OruJuiceFloatingPopupV1030(std::string text_, std::uint32_t colorHex_,
                                                       double normalizedX_, double normalizedY_,
                                                       double lifetime_)
    : id(randomUuid()),
      text(std::move(text_)),
      colorHex(colorHex_),
      normalizedX(normalizedX_),
      normalizedY(normalizedY_),
      age(0),
      lifetime(lifetime_) {}

double OruJuiceFloatingPopupV1030::opacity() const {
    if (age >= lifetime) return 0.0;
    const double o = std::max(1.0 - age / std::max(lifetime, 0.01), 0.0);
    return std::isnan(o) ? 0.0 : o;
}

std::string OruJuiceFloatingPopupV1030::idString() const {
    char buf[37];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  id[0], id[1], id[2], id[3], id[4], id[5], id[6], id[7], id[8], id[9], id[10], id[11],
                  id[12], id[13], id[14], id[15]);
    return buf;
}

void OruJuiceControllerStateV1030::triggerImpact(double intensity, double hitStopSeconds, bool hasPopup,
                                                 const std::string& popupText, std::uint32_t popupHex,
                                                 double normalizedX, double normalizedY) {
    applyImpact(*this, intensity, hitStopSeconds);
    if (hasPopup) {
        popups.emplace_back(popupText, popupHex, normalizedX, normalizedY, popupLifetime);
        if (popups.size() > maxPopups)
            popups.erase(popups.begin(),
                         popups.begin() + static_cast<std::ptrdiff_t>(popups.size() - maxPopups));
    }
}

bool OruJuiceControllerStateV1030::step(double dt) {
    const double d = juiceStepDuration(dt);
    elapsed += d;
    if (hitStopRemaining > 0) hitStopRemaining = std::max(hitStopRemaining - d, 0.0);
    if (trauma > 0.001) {
        const double t2 = trauma * trauma;
        shakeOffsetWidth = t2 * 18.0 * std::sin(78.0 * elapsed);
        shakeOffsetHeight = t2 * 14.0 * std::cos(93.0 * elapsed);
        shakeAngleDeg = t2 * 2.6 * std::sin(64.0 * elapsed);
        trauma = std::max(trauma - 1.9 * d, 0.0);
    } else {
        shakeOffsetWidth = 0;
        shakeOffsetHeight = 0;
        shakeAngleDeg = 0;
    }
    relaxSquash(squashScaleX, d);
    relaxSquash(squashScaleY, d);
    for (auto& p : popups) {
        p.age += d;
        p.normalizedY -= 0.085 * d;
    }
    std::erase_if(popups, [](const OruJuiceFloatingPopupV1030& p) { return p.age >= p.lifetime; });
    return hitStopRemaining > kHitStopEpsilon;
}

}  // namespace vantry::creator
