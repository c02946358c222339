#include "reset_callback_registry.h"

#include <algorithm>
#include <utility>

namespace vadu::dev_ctrl {

CallbackHandle ResetCallbackRegistry::Add(int32_t device_id, ResetPhase phase,
                                          ResetCallback callback) {
  std::lock_guard lock(mutex_);
  const CallbackHandle handle = next_handle_++;
  entries_.push_back(Entry{handle, device_id, phase, std::move(callback)});
  return handle;
}

void ResetCallbackRegistry::Remove(CallbackHandle handle) {
  ResetCallback removed;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [handle](const Entry& e) { return e.handle == handle; });
    if (it == entries_.end()) return;
    removed = std::move(it->callback);
    entries_.erase(it);
  }
  // `removed` dies here, outside the lock: destroying a callback may run code
  // that calls back into this registry.
}

std::vector<ResetCallback> ResetCallbackRegistry::Snapshot(int32_t device_id,
                                                           ResetPhase phase) const {
  std::lock_guard lock(mutex_);
  std::vector<ResetCallback> callbacks;
  for (const Entry& e : entries_) {
    if (e.device_id == device_id && e.phase == phase) callbacks.push_back(e.callback);
  }
  return callbacks;
}

}  // namespace vadu::dev_ctrl
