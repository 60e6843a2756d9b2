// Reads Linux's own thermal and power signals from sysfs and turns them into the inputs of the
// thermal budget: a thermal state 0..3 (nominal, fair, serious, critical) and a low-power flag.
//
// Thermal state: for every thermal zone, its temperature against its own trip points:
// at or above a "critical" trip → 3, a "hot" trip → 2, a "passive" trip → 1, otherwise 0; the hottest
// zone wins. Low power: the ACPI platform profile reads "low-power" (what power-profiles-daemon sets
// for its power-saver profile). Anything missing or unreadable counts as nominal / not low power.
#pragma once

#include <filesystem>

namespace vantry::platform {

class LinuxThermalSignals {
  public:
    explicit LinuxThermalSignals(std::filesystem::path sysRoot = "/sys");

    int thermalState() const;
    bool isLowPowerMode() const;

  private:
    std::filesystem::path root_;
};

}  // namespace vantry::platform
