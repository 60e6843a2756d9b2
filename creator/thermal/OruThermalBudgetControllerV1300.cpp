#include "creator/thermal/OruThermalBudgetControllerV1300.h"

#include <cmath>
#include <cstdio>

#include "common/EnumTable.h"
#include "common/Json.h"

namespace vantry::creator {

namespace {

constexpr std::array<std::string_view, 4> kTierRaw{"coolNominal", "warmBalanced", "hotConservation",
                                                   "criticalCoolDown"};

const std::array<OruThermalRenderProfileV1300, 4> kProfiles{{
    {OruThermalTierV1300::coolNominal, 60, false, 1.65, 1024, true, 0.0, 12, 26.0f, 4, 4},
    {OruThermalTierV1300::warmBalanced, 60, false, 1.45, 1024, true, 0.0, 9, 21.0f, 2, 2},
    {OruThermalTierV1300::hotConservation, 45, false, 1.25, 512, true, 0.0, 6, 16.0f, 1, 1},
    {OruThermalTierV1300::criticalCoolDown, 30, false, 1.0, 512, false, 0.0, 4, 12.0f, 0, 0},
}};

const json::Value& field(const json::Object& obj, const char* key) {
    const json::Value* v = json::member(obj, key);
    if (!v) throw ThermalDecodingError(std::string("missing key '") + key + "'");
    return *v;
}

double numberField(const json::Object& obj, const char* key) {
    const auto* n = field(obj, key).number();
    const auto v = n ? json::toDouble(*n) : std::nullopt;
    if (!v) throw ThermalDecodingError(std::string("key '") + key + "' is not a number");
    return *v;
}

std::int64_t integerField(const json::Object& obj, const char* key) {
    const double v = numberField(obj, key);
    if (!(v >= -9.2e18 && v <= 9.2e18) || std::trunc(v) != v)
        throw ThermalDecodingError(std::string("key '") + key + "' is not an integer");
    return static_cast<std::int64_t>(v);
}

bool boolField(const json::Object& obj, const char* key) {
    const auto* v = field(obj, key).boolean();
    if (!v) throw ThermalDecodingError(std::string("key '") + key + "' is not a boolean");
    return *v;
}

}  // namespace

std::optional<OruThermalTierV1300> OruThermalTierV1300::fromRawValue(std::string_view raw) {
    return enum_table::find<OruThermalTierV1300>(kTierRaw, std::identity{}, raw);
}

const std::array<OruThermalTierV1300, 4>& OruThermalTierV1300::allCases() {
    return enum_table::allCases<OruThermalTierV1300, 4>();
}

std::string_view OruThermalTierV1300::rawValue() const {
    return kTierRaw[case_];
}

OruThermalTierV1300 OruThermalTierV1300::decode(std::string_view stored) {
    if (auto tier = fromRawValue(stored)) return *tier;
    throw ThermalDecodingError("unknown thermal tier '" + std::string(stored) + "'");
}

const OruThermalRenderProfileV1300& OruThermalRenderProfileV1300::forTier(OruThermalTierV1300 tier) {
    return kProfiles[tier.value()];
}

std::string OruThermalRenderProfileV1300::encodeJson() const {
    json::Writer w(false);
    const auto integer = [&w](const char* key, std::int64_t v) {
        w.key(key);
        w.rawNumber(std::to_string(v));
    };
    const auto real = [&w](const char* key, double v) {
        w.key(key);
        w.rawNumber(json::formatDecimal(v));
    };
    const auto boolean = [&w](const char* key, bool v) {
        w.key(key);
        w.boolean(v);
    };
    w.beginObject();
    w.key("tier");
    w.string(tier.encode());
    integer("preferredFPS", preferredFPS);
    boolean("enable2XMSAA", enable2XMSAA);
    real("contentScaleCap", contentScaleCap);
    integer("shadowMapPixels", shadowMapPixels);
    boolean("allowDirectionalShadows", allowDirectionalShadows);
    real("floorReflectivity", floorReflectivity);
    integer("maxVisibleActors", maxVisibleActors);
    real("actorCullDistanceMeters", static_cast<double>(actorCullDistanceMeters));
    integer("clothSimBudget", clothSimBudget);
    integer("hairSimBudget", hairSimBudget);
    w.endObject();
    return w.finish();
}

OruThermalRenderProfileV1300 OruThermalRenderProfileV1300::decodeJson(std::string_view text) {
    json::ParseOptions options;
    options.rejectDuplicateKeys = true;
    const auto doc = json::parse(text, options);
    if (!doc || !doc->object()) throw ThermalDecodingError("malformed profile");
    const json::Object& obj = *doc->object();
    const auto* tierText = field(obj, "tier").string();
    if (!tierText) throw ThermalDecodingError("key 'tier' is not a string");
    OruThermalRenderProfileV1300 p;
    p.tier = OruThermalTierV1300::decode(*tierText);
    p.preferredFPS = integerField(obj, "preferredFPS");
    p.enable2XMSAA = boolField(obj, "enable2XMSAA");
    p.contentScaleCap = numberField(obj, "contentScaleCap");
    p.shadowMapPixels = integerField(obj, "shadowMapPixels");
    p.allowDirectionalShadows = boolField(obj, "allowDirectionalShadows");
    p.floorReflectivity = numberField(obj, "floorReflectivity");
    p.maxVisibleActors = integerField(obj, "maxVisibleActors");
    p.actorCullDistanceMeters = static_cast<float>(numberField(obj, "actorCullDistanceMeters"));
    p.clothSimBudget = integerField(obj, "clothSimBudget");
    p.hairSimBudget = integerField(obj, "hairSimBudget");
    return p;
}

namespace OruThermalBudgetControllerV1300 {

OruThermalTierV1300 evaluateTier(DeviceThermalState thermalState, bool isLowPowerMode,
                                 double smoothedFrameMs) {
    if (thermalState == DeviceThermalState::critical) return OruThermalTierV1300::criticalCoolDown;
    if (thermalState == DeviceThermalState::serious || isLowPowerMode)
        return OruThermalTierV1300::hotConservation;
    // Written as "not at or below" so a NaN frame time counts as slow.
    if (!(smoothedFrameMs <= 22.0) || thermalState == DeviceThermalState::fair)
        return OruThermalTierV1300::warmBalanced;
    return OruThermalTierV1300::coolNominal;
}

OruThermalRenderProfileV1300 evaluateProfile(DeviceThermalState thermalState, bool isLowPowerMode,
                                             double smoothedFrameMs) {
    return OruThermalRenderProfileV1300::forTier(evaluateTier(thermalState, isLowPowerMode, smoothedFrameMs));
}

OruThermalRenderProfileV1300 evaluateProfile(int thermalState, bool isLowPowerMode, double smoothedFrameMs) {
    const auto state = (thermalState >= 0 && thermalState <= 3)
                           ? static_cast<DeviceThermalState>(thermalState)
                           : DeviceThermalState::critical;
    return evaluateProfile(state, isLowPowerMode, smoothedFrameMs);
}

}  // namespace OruThermalBudgetControllerV1300

}  // namespace vantry::creator
