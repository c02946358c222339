// Library-wide queries.
//
// This library is a simulator: it has one backend, "sim", whose devices are
// plain host memory. The number of simulated devices is read from the
// environment variable VADU_SIM_DEVICE_NUM on every query (a decimal integer
// from 0 to 2147483647; unset or anything else means 2).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vadu/runtime/enums.h"

namespace vadu {

inline constexpr const char* SIM_BACKEND_NAME = "sim";
inline constexpr const char* SIM_DEVICE_NUM_ENV = "VADU_SIM_DEVICE_NUM";

const std::string& GetVersion();

// Device count of the named backend; 0 for a backend this library does not have.
int64_t GetDeviceNum(const std::string& backend_name);

// Names of the backends, the default one first.
const std::vector<std::string>& GetSupportedBackend();

}  // namespace vadu
