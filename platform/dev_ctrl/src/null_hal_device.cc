#include "null_hal_device.h"

#include "vadu/dev_ctrl/hal_device_factory.h"

namespace vadu::dev_ctrl {

std::string NullHalDevice::GetBackendName() { return kNullBackendName; }

}  // namespace vadu::dev_ctrl
