#include "vadu/dev_ctrl/hal_device_factory.h"

#include "environment.h"
#include "null_hal_device.h"
#include "sim_hal_device.h"

namespace vadu::dev_ctrl {

std::shared_ptr<HalDevice> HalDeviceFactory::Create(const std::string& backend_name) {
  const std::string name = backend_name.empty() ? DefaultBackendName() : backend_name;
  if (name == kSimBackendName) return std::make_shared<SimHalDevice>(SimDeviceCount());
  if (name == kNullBackendName) return std::make_shared<NullHalDevice>();
  return nullptr;
}

std::vector<std::string> HalDeviceFactory::GetSupportedBackends() {
  return {kSimBackendName, kNullBackendName};
}

}  // namespace vadu::dev_ctrl
