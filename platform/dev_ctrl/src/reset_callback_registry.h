// Reset callbacks of one device object, kept per logical device and phase.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "vadu/dev_ctrl/hal_device.h"

namespace vadu::dev_ctrl {

enum class ResetPhase { kPreReset, kPostReset };

class ResetCallbackRegistry {
 public:
  CallbackHandle Add(int32_t device_id, ResetPhase phase, ResetCallback callback);
  void Remove(CallbackHandle handle);

  // Copies of the callbacks in registration order, so that they can be run
  // without the lock while they register or unregister callbacks themselves.
  std::vector<ResetCallback> Snapshot(int32_t device_id, ResetPhase phase) const;

 private:
  struct Entry {
    CallbackHandle handle;
    int32_t device_id;
    ResetPhase phase;
    ResetCallback callback;
  };

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;  // in registration order
  CallbackHandle next_handle_ = 1;
};

}  // namespace vadu::dev_ctrl
