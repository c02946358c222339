#include "vadu/runtime/dev_manager.h"

#include <algorithm>

#include "sim_devices.h"
#include "vadu/runtime/backend.h"

namespace vadu {

struct DevManager::State {
  Status status = UNINITIALIZED;
  std::vector<int32_t> device_ids;
  std::string backend_name;
};

namespace {

const std::vector<int32_t>& NoDevices() {
  static const std::vector<int32_t> none;
  return none;
}

const std::string& DefaultBackend() { return GetSupportedBackend().front(); }

}  // namespace

DevManager::DevManager() = default;
DevManager::~DevManager() = default;
DevManager::DevManager(std::shared_ptr<const State> state) : state_(std::move(state)) {}

DevManager DevManager::Create(int32_t device_id, const std::string& name) {
  return Create(std::vector<int32_t>{device_id}, name);
}

DevManager DevManager::Create(const std::vector<int32_t>& device_ids, const std::string& name) {
  auto state = std::make_shared<State>();
  state->backend_name = name.empty() ? DefaultBackend() : name;
  std::vector<int32_t> sorted = device_ids;
  std::sort(sorted.begin(), sorted.end());
  const bool repeated = std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
  if (device_ids.empty() || repeated) {
    state->status = INVALID_ARGUMENT;
  } else {
    state->status = OK;
    state->device_ids = device_ids;
  }
  return DevManager(std::move(state));
}

int32_t DevManager::DevCount() const { return static_cast<int32_t>(DeviceIds().size()); }

Status DevManager::Verify() const {
  if (GetInitStatus() != OK) return GetInitStatus();
  for (int32_t id : state_->device_ids) {
    if (Status status = sim::CheckDevice(state_->backend_name, id); status != OK) return status;
  }
  return OK;
}

Status DevManager::GetInitStatus() const { return state_ ? state_->status : UNINITIALIZED; }

const std::vector<int32_t>& DevManager::DeviceIds() const { return state_ ? state_->device_ids : NoDevices(); }

const std::string& DevManager::BackendName() const { return state_ ? state_->backend_name : DefaultBackend(); }

}  // namespace vadu
