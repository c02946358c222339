// Checks shared by everything that places memory or work on a simulated device.
#pragma once

#include <cstdint>
#include <string>

#include "vadu/runtime/enums.h"

namespace vadu::sim {

// OK when backend_name ("" is the default backend) names our backend and
// device_id is one of its devices; UNSUPPORTED for another backend,
// INVALID_ARGUMENT for a device it does not have.
Status CheckDevice(const std::string& backend_name, int32_t device_id);

// The device kind a device-type name selects: "" and "HDPL" give HDPL,
// "COMPND" gives COMPND. Returns false for any other name.
bool ParseDeviceType(const std::string& dev_type_name, Device& device);

// The name ParseDeviceType takes for a device kind.
const char* DeviceTypeName(Device device);

}  // namespace vadu::sim
