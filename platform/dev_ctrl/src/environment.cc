#include "environment.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "vadu/dev_ctrl/hal_device_factory.h"

#ifndef VADU_DEFAULT_BACKEND
#define VADU_DEFAULT_BACKEND "sim"
#endif

namespace vadu::dev_ctrl {

std::string DefaultBackendName() {
  const char* name = std::getenv(kBackendEnvVar);
  if (name != nullptr && *name != '\0') return name;
  return VADU_DEFAULT_BACKEND;
}

int32_t SimDeviceCount() {
  const char* text = std::getenv(kSimDeviceCountEnvVar);
  if (text == nullptr) return kDefaultSimDeviceCount;
  const char* end = text + std::strlen(text);
  int32_t count = 0;
  const auto [stop, error] = std::from_chars(text, end, count);
  if (error != std::errc{} || stop != end || count < 0 || count > kMaxSimDeviceCount) {
    return kDefaultSimDeviceCount;
  }
  return count;
}

}  // namespace vadu::dev_ctrl
