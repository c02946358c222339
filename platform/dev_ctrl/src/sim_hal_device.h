// A backend of simulated logical devices that live in host memory.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "reset_callback_registry.h"
#include "vadu/dev_ctrl/hal_device.h"

namespace vadu::dev_ctrl {

class SimHalDevice final : public HalDevice {
 public:
  explicit SimHalDevice(int32_t device_count);

  int32_t GetDeviceCount() override;
  Status IpuReset(int32_t device_id) override;
  CallbackHandle RegisterPreResetCallback(int32_t device_id, ResetCallback callback) override;
  CallbackHandle RegisterPostResetCallback(int32_t device_id, ResetCallback callback) override;
  void UnregisterResetCallback(CallbackHandle handle) override;
  Status GetDvfsMode(int32_t device_id, DvfsMode& mode) override;
  Status SetDvfsMode(int32_t device_id, DvfsMode mode) override;
  Status GetIpuFrequency(int32_t device_id, uint64_t& frequency_hz) override;
  Status GetMemInfo(int32_t device_id, MemInfo& info) override;
  Status GetIpuUtilRate(int32_t device_id, float& util_rate) override;
  std::string GetBackendName() override;

 private:
  // What a reset puts back to its default.
  struct DeviceState {
    DvfsMode mode = DvfsMode::PERFORMANCE;
  };

  bool IsKnown(int32_t device_id) const;
  DvfsMode ModeOf(int32_t device_id) const;
  CallbackHandle Register(int32_t device_id, ResetPhase phase, ResetCallback callback);
  static void RunCallbacks(const std::vector<ResetCallback>& callbacks, int32_t device_id);

  mutable std::mutex mutex_;  // guards devices_
  std::vector<DeviceState> devices_;
  ResetCallbackRegistry callbacks_;
};

}  // namespace vadu::dev_ctrl
