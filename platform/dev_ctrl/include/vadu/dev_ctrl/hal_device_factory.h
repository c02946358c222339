// Creates device objects by backend name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vadu/dev_ctrl/hal_device.h"

namespace vadu::dev_ctrl {

// The backends this library offers.
inline constexpr char kSimBackendName[] = "sim";
inline constexpr char kNullBackendName[] = "null";

// Environment variables read when a device object is created.
inline constexpr char kBackendEnvVar[] = "VADU_BACKEND";
inline constexpr char kSimDeviceCountEnvVar[] = "VADU_SIM_DEVICE_NUM";

class HalDeviceFactory {
 public:
  // An empty name picks the backend named by VADU_BACKEND, or the build-time
  // default when that is unset or empty. Returns null for an unknown backend.
  static std::shared_ptr<HalDevice> Create(const std::string& backend_name = "");
  static std::vector<std::string> GetSupportedBackends();
};

}  // namespace vadu::dev_ctrl
