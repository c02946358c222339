// Telemetry of a simulated device: a steady synthetic load whose frequency and
// utilisation follow the DVFS mode the way a governor would.
#pragma once

#include <cstdint>

#include "vadu/dev_ctrl/hal_device.h"

namespace vadu::dev_ctrl {

inline constexpr uint64_t kSimMaxFrequencyHz = 1'000'000'000;
inline constexpr uint64_t kSimMinFrequencyHz = 200'000'000;
inline constexpr uint32_t kSimMemTotalMb = 8192;
inline constexpr uint32_t kSimMemReservedMb = 320;  // firmware and driver

struct SimClock {
  uint64_t frequency_hz;
  float util_rate;  // percent of the cores' time busy at that frequency
};

SimClock SimClockFor(DvfsMode mode);
MemInfo SimMemInfo();

}  // namespace vadu::dev_ctrl
