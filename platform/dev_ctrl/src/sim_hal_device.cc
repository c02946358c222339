#include "sim_hal_device.h"

#include <utility>

#include "sim_telemetry.h"
#include "vadu/dev_ctrl/hal_device_factory.h"

namespace vadu::dev_ctrl {

SimHalDevice::SimHalDevice(int32_t device_count)
    : devices_(static_cast<size_t>(device_count < 0 ? 0 : device_count)) {}

int32_t SimHalDevice::GetDeviceCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(devices_.size());
}

bool SimHalDevice::IsKnown(int32_t device_id) const {
  // devices_ never changes size after construction.
  return device_id >= 0 && static_cast<size_t>(device_id) < devices_.size();
}

DvfsMode SimHalDevice::ModeOf(int32_t device_id) const {
  std::lock_guard lock(mutex_);
  return devices_[static_cast<size_t>(device_id)].mode;
}

void SimHalDevice::RunCallbacks(const std::vector<ResetCallback>& callbacks, int32_t device_id) {
  for (const ResetCallback& callback : callbacks) {
    if (callback) callback(device_id);
  }
}

Status SimHalDevice::IpuReset(int32_t device_id) {
  if (!IsKnown(device_id)) return INVALID_ARGUMENT;
  // A throwing pre-reset callback ends the reset before the device is touched.
  RunCallbacks(callbacks_.Snapshot(device_id, ResetPhase::kPreReset), device_id);
  {
    std::lock_guard lock(mutex_);
    devices_[static_cast<size_t>(device_id)] = DeviceState{};
  }
  RunCallbacks(callbacks_.Snapshot(device_id, ResetPhase::kPostReset), device_id);
  return OK;
}

CallbackHandle SimHalDevice::Register(int32_t device_id, ResetPhase phase,
                                      ResetCallback callback) {
  // No device, no reset that could ever call it: hand out the never-used handle 0.
  if (!IsKnown(device_id)) return 0;
  return callbacks_.Add(device_id, phase, std::move(callback));
}

CallbackHandle SimHalDevice::RegisterPreResetCallback(int32_t device_id, ResetCallback callback) {
  return Register(device_id, ResetPhase::kPreReset, std::move(callback));
}

CallbackHandle SimHalDevice::RegisterPostResetCallback(int32_t device_id, ResetCallback callback) {
  return Register(device_id, ResetPhase::kPostReset, std::move(callback));
}

void SimHalDevice::UnregisterResetCallback(CallbackHandle handle) { callbacks_.Remove(handle); }

Status SimHalDevice::GetDvfsMode(int32_t device_id, DvfsMode& mode) {
  if (!IsKnown(device_id)) return INVALID_ARGUMENT;
  mode = ModeOf(device_id);
  return OK;
}

Status SimHalDevice::SetDvfsMode(int32_t device_id, DvfsMode mode) {
  if (!IsKnown(device_id)) return INVALID_ARGUMENT;
  if (mode != DvfsMode::PERFORMANCE && mode != DvfsMode::ON_DEMAND) return INVALID_ARGUMENT;
  std::lock_guard lock(mutex_);
  devices_[static_cast<size_t>(device_id)].mode = mode;
  return OK;
}

Status SimHalDevice::GetIpuFrequency(int32_t device_id, uint64_t& frequency_hz) {
  if (!IsKnown(device_id)) return INVALID_ARGUMENT;
  frequency_hz = SimClockFor(ModeOf(device_id)).frequency_hz;
  return OK;
}

Status SimHalDevice::GetMemInfo(int32_t device_id, MemInfo& info) {
  if (!IsKnown(device_id)) return INVALID_ARGUMENT;
  info = SimMemInfo();
  return OK;
}

Status SimHalDevice::GetIpuUtilRate(int32_t device_id, float& util_rate) {
  if (!IsKnown(device_id)) return INVALID_ARGUMENT;
  util_rate = SimClockFor(ModeOf(device_id)).util_rate;
  return OK;
}

std::string SimHalDevice::GetBackendName() { return kSimBackendName; }

}  // namespace vadu::dev_ctrl
