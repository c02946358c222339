#include "vadu/runtime/backend.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "sim_devices.h"

namespace vadu {
namespace {

constexpr int64_t DEFAULT_DEVICE_NUM = 2;

int64_t SimDeviceNum() {
  const char* text = std::getenv(SIM_DEVICE_NUM_ENV);
  if (text == nullptr || *text == '\0') return DEFAULT_DEVICE_NUM;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 0 || value > std::numeric_limits<int32_t>::max()) {
    return DEFAULT_DEVICE_NUM;
  }
  return value;
}

}  // namespace

const std::string& GetVersion() {
  static const std::string version = "1.0.0-sim";
  return version;
}

int64_t GetDeviceNum(const std::string& backend_name) {
  return backend_name == SIM_BACKEND_NAME ? SimDeviceNum() : 0;
}

const std::vector<std::string>& GetSupportedBackend() {
  static const std::vector<std::string> backends{SIM_BACKEND_NAME};
  return backends;
}

namespace sim {

Status CheckDevice(const std::string& backend_name, int32_t device_id) {
  const std::string& name = backend_name.empty() ? GetSupportedBackend().front() : backend_name;
  const int64_t count = GetDeviceNum(name);
  if (name != SIM_BACKEND_NAME) return UNSUPPORTED;
  if (device_id < 0 || device_id >= count) return INVALID_ARGUMENT;
  return OK;
}

bool ParseDeviceType(const std::string& dev_type_name, Device& device) {
  if (dev_type_name.empty() || dev_type_name == "HDPL") {
    device = HDPL;
    return true;
  }
  if (dev_type_name == "COMPND") {
    device = COMPND;
    return true;
  }
  return false;
}

const char* DeviceTypeName(Device device) {
  return device == COMPND ? "COMPND" : "HDPL";
}

}  // namespace sim
}  // namespace vadu
