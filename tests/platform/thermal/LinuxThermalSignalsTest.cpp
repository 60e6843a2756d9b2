#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "creator/thermal/OruThermalBudgetControllerV1300.h"
#include "platform/thermal/LinuxThermalSignals.h"

namespace fs = std::filesystem;
using vantry::platform::LinuxThermalSignals;

namespace {

class FakeSys {
  public:
    FakeSys() : root_(fs::temp_directory_path() / ("vantry-sys-" + std::to_string(::getpid()))) {
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~FakeSys() { fs::remove_all(root_); }
    const fs::path& root() const { return root_; }
    void write(const fs::path& rel, const std::string& text) {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << text;
    }
    void zone(int n, long long temp, std::initializer_list<std::pair<const char*, long long>> trips) {
        const fs::path z = fs::path("class/thermal") / ("thermal_zone" + std::to_string(n));
        write(z / "temp", std::to_string(temp) + "\n");
        int i = 0;
        for (const auto& [type, t] : trips) {
            write(z / ("trip_point_" + std::to_string(i) + "_type"), std::string(type) + "\n");
            write(z / ("trip_point_" + std::to_string(i) + "_temp"), std::to_string(t) + "\n");
            ++i;
        }
    }

  private:
    fs::path root_;
};

}  // namespace

TEST(LinuxThermalSignals, MissingTreeIsNominal) {
    FakeSys sys;
    const LinuxThermalSignals s(sys.root());
    EXPECT_EQ(s.thermalState(), 0);
    EXPECT_FALSE(s.isLowPowerMode());
}

TEST(LinuxThermalSignals, HottestZoneAgainstItsTripPoints) {
    FakeSys sys;
    sys.zone(0, 45000, {{"passive", 80000}, {"hot", 95000}, {"critical", 105000}});
    const LinuxThermalSignals s(sys.root());
    EXPECT_EQ(s.thermalState(), 0);
    sys.zone(1, 80000, {{"passive", 80000}, {"critical", 100000}});
    EXPECT_EQ(s.thermalState(), 1);
    sys.zone(2, 96000, {{"active", 50000}, {"hot", 95000}});
    EXPECT_EQ(s.thermalState(), 2);
    sys.zone(0, 106000, {{"passive", 80000}, {"hot", 95000}, {"critical", 105000}});
    EXPECT_EQ(s.thermalState(), 3);
    // Feeds the tier rule directly.
    EXPECT_EQ(
        vantry::creator::OruThermalBudgetControllerV1300::evaluateProfile(s.thermalState(), false, 16.0).tier,
        vantry::creator::OruThermalTierV1300::criticalCoolDown);
}

TEST(LinuxThermalSignals, GarbageIsIgnoredAndPlatformProfileGivesLowPower) {
    FakeSys sys;
    sys.write("class/thermal/thermal_zone0/temp", "hot!\n");
    sys.write("class/thermal/thermal_zone0/trip_point_0_type", "critical\n");
    sys.write("class/thermal/thermal_zone0/trip_point_0_temp", "1\n");
    sys.write("class/thermal/cooling_device0/temp", "999999\n");
    sys.write("firmware/acpi/platform_profile", "balanced\n");
    const LinuxThermalSignals s(sys.root());
    EXPECT_EQ(s.thermalState(), 0);
    EXPECT_FALSE(s.isLowPowerMode());
    sys.write("firmware/acpi/platform_profile", "low-power\n");
    EXPECT_TRUE(s.isLowPowerMode());
}
