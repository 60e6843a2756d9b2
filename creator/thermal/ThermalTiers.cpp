#include "creator/thermal/ThermalTiers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <variant>

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

// A reader for one flat JSON object of strings, numbers and booleans: all a profile needs.
using FlatValue = std::variant<std::string, double, bool>;

class FlatObjectReader {
  public:
    explicit FlatObjectReader(std::string_view text) : s_(text) {}

    std::map<std::string, FlatValue> read() {
        std::map<std::string, FlatValue> out;
        skipSpace();
        expect('{');
        skipSpace();
        if (peek() == '}') {
            ++pos_;
        } else {
            for (;;) {
                skipSpace();
                std::string key = readString();
                skipSpace();
                expect(':');
                skipSpace();
                FlatValue value = readValue();
                if (!out.emplace(std::move(key), std::move(value)).second) fail("repeated key");
                skipSpace();
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect('}');
                break;
            }
        }
        skipSpace();
        if (pos_ != s_.size()) fail("trailing characters");
        return out;
    }

  private:
    [[noreturn]] void fail(const char* what) const {
        throw ThermalDecodingError(std::string("malformed profile: ") + what);
    }
    char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    void skipSpace() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    void expect(char c) {
        if (peek() != c) fail("unexpected character");
        ++pos_;
    }
    std::string readString() {
        expect('"');
        std::string out;
        while (pos_ < s_.size() && s_[pos_] != '"') {
            char c = s_[pos_++];
            if (c == '\\') {
                if (pos_ >= s_.size()) fail("bad escape");
                const char e = s_[pos_++];
                switch (e) {
                    case '"':
                    case '\\':
                    case '/':
                        c = e;
                        break;
                    case 'n':
                        c = '\n';
                        break;
                    case 't':
                        c = '\t';
                        break;
                    default:
                        fail("unsupported escape");
                }
            }
            out.push_back(c);
        }
        expect('"');
        return out;
    }
    FlatValue readValue() {
        const char c = peek();
        if (c == '"') return readString();
        if (s_.substr(pos_, 4) == "true") {
            pos_ += 4;
            return true;
        }
        if (s_.substr(pos_, 5) == "false") {
            pos_ += 5;
            return false;
        }
        double v = 0;
        const auto* begin = s_.data() + pos_;
        const auto res = std::from_chars(begin, s_.data() + s_.size(), v);
        if (res.ec != std::errc() || res.ptr == begin) fail("bad value");
        pos_ += static_cast<std::size_t>(res.ptr - begin);
        return v;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

std::string formatDouble(double v) {
    char buf[64];
    // Shortest text that reads back to the same double.
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

const FlatValue& field(const std::map<std::string, FlatValue>& obj, const char* key) {
    const auto it = obj.find(key);
    if (it == obj.end()) throw ThermalDecodingError(std::string("missing key '") + key + "'");
    return it->second;
}

double numberField(const std::map<std::string, FlatValue>& obj, const char* key) {
    const auto* v = std::get_if<double>(&field(obj, key));
    if (!v) throw ThermalDecodingError(std::string("key '") + key + "' is not a number");
    return *v;
}

std::int64_t integerField(const std::map<std::string, FlatValue>& obj, const char* key) {
    const double v = numberField(obj, key);
    if (!(v >= -9.2e18 && v <= 9.2e18) || std::trunc(v) != v)
        throw ThermalDecodingError(std::string("key '") + key + "' is not an integer");
    return static_cast<std::int64_t>(v);
}

bool boolField(const std::map<std::string, FlatValue>& obj, const char* key) {
    const auto* v = std::get_if<bool>(&field(obj, key));
    if (!v) throw ThermalDecodingError(std::string("key '") + key + "' is not a boolean");
    return *v;
}

}  // namespace

std::optional<OruThermalTierV1300> OruThermalTierV1300::fromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < kTierRaw.size(); ++i) {
        if (kTierRaw[i] == raw) return OruThermalTierV1300(static_cast<Case>(i));
    }
    return std::nullopt;
}

const std::array<OruThermalTierV1300, 4>& OruThermalTierV1300::allCases() {
    static const std::array<OruThermalTierV1300, 4> all{coolNominal, warmBalanced, hotConservation,
                                                        criticalCoolDown};
    return all;
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
    auto b = [](bool v) { return v ? std::string("true") : std::string("false"); };
    std::string s = "{";
    s += "\"tier\":\"" + tier.encode() + "\"";
    s += ",\"preferredFPS\":" + std::to_string(preferredFPS);
    s += ",\"enable2XMSAA\":" + b(enable2XMSAA);
    s += ",\"contentScaleCap\":" + formatDouble(contentScaleCap);
    s += ",\"shadowMapPixels\":" + std::to_string(shadowMapPixels);
    s += ",\"allowDirectionalShadows\":" + b(allowDirectionalShadows);
    s += ",\"floorReflectivity\":" + formatDouble(floorReflectivity);
    s += ",\"maxVisibleActors\":" + std::to_string(maxVisibleActors);
    s += ",\"actorCullDistanceMeters\":" + formatDouble(static_cast<double>(actorCullDistanceMeters));
    s += ",\"clothSimBudget\":" + std::to_string(clothSimBudget);
    s += ",\"hairSimBudget\":" + std::to_string(hairSimBudget);
    s += "}";
    return s;
}

OruThermalRenderProfileV1300 OruThermalRenderProfileV1300::decodeJson(std::string_view json) {
    const auto obj = FlatObjectReader(json).read();
    const auto* tierText = std::get_if<std::string>(&field(obj, "tier"));
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
