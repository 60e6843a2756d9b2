#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/Json.h"
#include "creator/thermal/OruThermalBudgetControllerV1300.h"

using namespace vantry::creator;
namespace ctl = vantry::creator::OruThermalBudgetControllerV1300;

namespace {
OruThermalTierV1300 tierOf(int state, bool lowPower, double ms) {
    return ctl::evaluateProfile(state, lowPower, ms).tier;
}
}  // namespace

TEST(ThermalTiers, FrameTimeBoundaryAndNaN) {
    EXPECT_EQ(tierOf(0, false, 16.7), OruThermalTierV1300::coolNominal);
    EXPECT_EQ(tierOf(0, false, 22.0), OruThermalTierV1300::coolNominal);
    EXPECT_EQ(tierOf(0, false, 22.01), OruThermalTierV1300::warmBalanced);
    EXPECT_EQ(tierOf(0, false, std::numeric_limits<double>::quiet_NaN()), OruThermalTierV1300::warmBalanced);
    EXPECT_EQ(tierOf(0, false, std::numeric_limits<double>::infinity()), OruThermalTierV1300::warmBalanced);
    EXPECT_EQ(tierOf(1, false, 10.0), OruThermalTierV1300::warmBalanced);
}

TEST(ThermalTiers, LowPowerSeriousAndCriticalOrder) {
    for (double ms : {1.0, 16.7, 40.0, std::nan("")}) {
        EXPECT_EQ(tierOf(0, true, ms), OruThermalTierV1300::hotConservation);
        EXPECT_EQ(tierOf(1, true, ms), OruThermalTierV1300::hotConservation);
        EXPECT_EQ(tierOf(2, false, ms), OruThermalTierV1300::hotConservation);
        EXPECT_EQ(tierOf(3, false, ms), OruThermalTierV1300::criticalCoolDown);
        EXPECT_EQ(tierOf(3, true, ms), OruThermalTierV1300::criticalCoolDown);
    }
    // A state number the platform does not define is taken as the hottest.
    EXPECT_EQ(tierOf(7, false, 10.0), OruThermalTierV1300::criticalCoolDown);
    EXPECT_EQ(tierOf(-1, false, 10.0), OruThermalTierV1300::criticalCoolDown);
}

TEST(ThermalTiers, FixedRows) {
    const auto& cool = OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::coolNominal);
    EXPECT_EQ(cool.preferredFPS, 60);
    EXPECT_DOUBLE_EQ(cool.contentScaleCap, 1.65);
    EXPECT_EQ(cool.maxVisibleActors, 12);
    EXPECT_EQ(cool.actorCullDistanceMeters, 26.0f);
    const auto& hot = OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::hotConservation);
    EXPECT_EQ(hot.preferredFPS, 45);
    EXPECT_EQ(hot.shadowMapPixels, 512);
    EXPECT_TRUE(hot.allowDirectionalShadows);
    EXPECT_EQ(hot.clothSimBudget, 1);
    const auto& crit = OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::criticalCoolDown);
    EXPECT_EQ(crit.preferredFPS, 30);
    EXPECT_FALSE(crit.allowDirectionalShadows);
    EXPECT_EQ(crit.maxVisibleActors, 4);
    EXPECT_EQ(crit.actorCullDistanceMeters, 12.0f);
    EXPECT_EQ(crit.hairSimBudget, 0);
    for (auto tier : OruThermalTierV1300::allCases()) {
        EXPECT_EQ(OruThermalRenderProfileV1300::forTier(tier).tier, tier);
        EXPECT_FALSE(OruThermalRenderProfileV1300::forTier(tier).enable2XMSAA);
    }
}

// Stored and sent profiles depend on these exact bytes: field order, no spaces, ".0" on whole doubles.
TEST(ThermalTiers, SerialisedFormIsByteStable) {
    EXPECT_EQ(
        OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::hotConservation).encodeJson(),
        R"({"tier":"hotConservation","preferredFPS":45,"enable2XMSAA":false,"contentScaleCap":1.25,)"
        R"("shadowMapPixels":512,"allowDirectionalShadows":true,"floorReflectivity":0.0,"maxVisibleActors":6,)"
        R"("actorCullDistanceMeters":16.0,"clothSimBudget":1,"hairSimBudget":1})");
    OruThermalRenderProfileV1300 edge;
    edge.preferredFPS = -5;
    edge.contentScaleCap = 1e21;
    edge.floorReflectivity = -0.0;
    edge.actorCullDistanceMeters = std::numeric_limits<float>::max();
    EXPECT_EQ(
        edge.encodeJson(),
        R"({"tier":"coolNominal","preferredFPS":-5,"enable2XMSAA":false,"contentScaleCap":1e+21,)"
        R"("shadowMapPixels":0,"allowDirectionalShadows":false,"floorReflectivity":-0.0,"maxVisibleActors":0,)"
        R"("actorCullDistanceMeters":3.4028234663852886e+38,"clothSimBudget":0,"hairSimBudget":0})");
    edge.floorReflectivity = std::numeric_limits<double>::quiet_NaN();  // JSON has no NaN: refused
    EXPECT_THROW(edge.encodeJson(), vantry::json::EncodingError);
}

TEST(ThermalTiers, SerialisedFormRoundTripsAndRejectsUnknownTier) {
    for (auto tier : OruThermalTierV1300::allCases()) {
        const auto& p = OruThermalRenderProfileV1300::forTier(tier);
        EXPECT_EQ(OruThermalRenderProfileV1300::decodeJson(p.encodeJson()), p);
    }
    const auto json =
        OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::hotConservation).encodeJson();
    EXPECT_EQ(json.rfind("{\"tier\":\"hotConservation\",\"preferredFPS\":45,", 0), 0u) << json;
    EXPECT_NE(json.find("\"contentScaleCap\":1.25"), std::string::npos);

    std::string bad = json;
    bad.replace(bad.find("hotConservation"), 15, "lukewarm");
    EXPECT_THROW(OruThermalRenderProfileV1300::decodeJson(bad), ThermalDecodingError);
    EXPECT_THROW(OruThermalTierV1300::decode("CoolNominal"), ThermalDecodingError);
    EXPECT_FALSE(OruThermalTierV1300::fromRawValue("").has_value());
    EXPECT_THROW(OruThermalRenderProfileV1300::decodeJson("{\"tier\":\"coolNominal\"}"),
                 ThermalDecodingError);
    EXPECT_THROW(OruThermalRenderProfileV1300::decodeJson(json + "x"), ThermalDecodingError);
}
