// A backend that supports nothing: every operation reports UNSUPPORTED and
// leaves its out value alone.
#pragma once

#include <string>

#include "vadu/dev_ctrl/hal_device.h"

namespace vadu::dev_ctrl {

class NullHalDevice final : public HalDevice {
 public:
  int32_t GetDeviceCount() override { return -1; }
  Status IpuReset(int32_t) override { return UNSUPPORTED; }
  // The callback is dropped: there is no reset that could call it.
  CallbackHandle RegisterPreResetCallback(int32_t, ResetCallback) override { return 0; }
  CallbackHandle RegisterPostResetCallback(int32_t, ResetCallback) override { return 0; }
  void UnregisterResetCallback(CallbackHandle) override {}
  Status GetDvfsMode(int32_t, DvfsMode&) override { return UNSUPPORTED; }
  Status SetDvfsMode(int32_t, DvfsMode) override { return UNSUPPORTED; }
  Status GetIpuFrequency(int32_t, uint64_t&) override { return UNSUPPORTED; }
  Status GetMemInfo(int32_t, MemInfo&) override { return UNSUPPORTED; }
  Status GetIpuUtilRate(int32_t, float&) override { return UNSUPPORTED; }
  std::string GetBackendName() override;
};

}  // namespace vadu::dev_ctrl
