#include "sim_telemetry.h"

#include <algorithm>

namespace vadu::dev_ctrl {
namespace {

// Share of the cores' capacity at full clock that the synthetic load needs.
constexpr double kSimLoad = 0.30;
// The on-demand governor clocks down until the cores are this busy.
constexpr double kOnDemandTargetUtil = 0.60;

}  // namespace

SimClock SimClockFor(DvfsMode mode) {
  uint64_t frequency = kSimMaxFrequencyHz;
  if (mode == DvfsMode::ON_DEMAND) {
    const double wanted = static_cast<double>(kSimMaxFrequencyHz) * kSimLoad / kOnDemandTargetUtil;
    frequency = std::clamp(static_cast<uint64_t>(wanted), kSimMinFrequencyHz, kSimMaxFrequencyHz);
  }
  const double util =
      100.0 * kSimLoad * static_cast<double>(kSimMaxFrequencyHz) / static_cast<double>(frequency);
  return SimClock{frequency, static_cast<float>(std::min(util, 100.0))};
}

MemInfo SimMemInfo() {
  return MemInfo{kSimMemTotalMb, kSimMemReservedMb, kSimMemTotalMb - kSimMemReservedMb};
}

}  // namespace vadu::dev_ctrl
