// Settings the factory reads from the environment when it creates a device object.
#pragma once

#include <cstdint>
#include <string>

namespace vadu::dev_ctrl {

inline constexpr int32_t kDefaultSimDeviceCount = 2;
inline constexpr int32_t kMaxSimDeviceCount = 64;

// VADU_BACKEND, or the build-time default when it is unset or empty.
std::string DefaultBackendName();

// VADU_SIM_DEVICE_NUM when it is a whole number from 0 to kMaxSimDeviceCount,
// otherwise kDefaultSimDeviceCount.
int32_t SimDeviceCount();

}  // namespace vadu::dev_ctrl
