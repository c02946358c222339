// The device-control interface: one object per backend that manages all of the
// backend's logical devices.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vadu/status.h"

namespace vadu::dev_ctrl {

enum class DvfsMode : int32_t {
  PERFORMANCE = 0,
  ON_DEMAND = 1,
};

// DDR memory of one logical device, in MB.
struct MemInfo {
  uint32_t mem_total = 0;
  uint32_t mem_used = 0;
  uint32_t mem_avail = 0;
};

// Called with the logical device id around a reset.
using ResetCallback = std::function<void(int)>;

// Handles start at 1; 0 is never handed out for a registration that was kept.
using CallbackHandle = uint64_t;

class HalDevice {
 public:
  virtual ~HalDevice() = default;

  // Number of logical devices, or -1 when the backend cannot probe them.
  virtual int32_t GetDeviceCount() = 0;

  // Runs the device's pre-reset callbacks in registration order, resets it and
  // runs its post-reset callbacks. An exception thrown by a callback leaves
  // this call; the device is then either untouched (pre-reset) or fully reset
  // (post-reset).
  virtual Status IpuReset(int32_t device_id) = 0;

  virtual CallbackHandle RegisterPreResetCallback(int32_t device_id, ResetCallback callback) = 0;
  virtual CallbackHandle RegisterPostResetCallback(int32_t device_id, ResetCallback callback) = 0;
  // Unknown handles are ignored.
  virtual void UnregisterResetCallback(CallbackHandle handle) = 0;

  // Getters leave their out value alone unless they return OK.
  virtual Status GetDvfsMode(int32_t device_id, DvfsMode& mode) = 0;
  virtual Status SetDvfsMode(int32_t device_id, DvfsMode mode) = 0;
  virtual Status GetIpuFrequency(int32_t device_id, uint64_t& frequency_hz) = 0;
  virtual Status GetMemInfo(int32_t device_id, MemInfo& info) = 0;
  virtual Status GetIpuUtilRate(int32_t device_id, float& util_rate) = 0;

  virtual std::string GetBackendName() = 0;
};

}  // namespace vadu::dev_ctrl
