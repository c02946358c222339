#include "vadu/runtime/backend.h"
#include "vadu/runtime/module.h"

namespace vadu {

// ---- WeightManager ----

struct Module::WeightManager::State {
  DevManager devices;
};

Module::WeightManager::WeightManager(std::shared_ptr<const State> state, int32_t device_count)
    : state_(std::move(state)), device_count_(device_count) {}

Module::WeightManager Module::WeightManager::CreateWeightManager(int device_id) {
  return CreateWeightManager(DevManager::Create(device_id, ""));
}

Module::WeightManager Module::WeightManager::CreateWeightManager(const DevManager& devices) {
  return WeightManager(std::make_shared<State>(State{devices}), devices.DevCount());
}

DevManager Module::WeightManager::Devices() const { return state_ ? state_->devices : DevManager(); }

// ---- Option ----

struct Module::Option::State {
  std::vector<int32_t> device_ids;
  std::string backend_name;
  std::vector<std::string> dummy_tensors;
  uint64_t profile_level = 0;
  bool io_lazy_mode = false;
  bool host_lazy_loading = false;
  uint64_t model_offset = 0;
  uint64_t model_size = 0;
};

namespace {

// The devices a manager holds; an unusable manager leaves the option without
// devices, which the load reports.
void TakeDevices(const DevManager& devices, std::vector<int32_t>& ids, std::string& backend) {
  ids = devices.GetInitStatus() == OK ? devices.DeviceIds() : std::vector<int32_t>{};
  backend = devices.BackendName();
}

}  // namespace

Module::Option::Option(int device_id) : state_(std::make_shared<State>()) {
  state_->device_ids = {device_id};
  state_->backend_name = GetSupportedBackend().front();
}

Module::Option::Option(WeightManager& weights) : state_(std::make_shared<State>()) {
  const DevManager devices = weights.Devices();
  if (devices.GetInitStatus() == UNINITIALIZED) {
    state_->device_ids = {0};
    state_->backend_name = GetSupportedBackend().front();
  } else {
    TakeDevices(devices, state_->device_ids, state_->backend_name);
  }
}

Module::Option::Option(const DevManager& devices) : state_(std::make_shared<State>()) {
  TakeDevices(devices, state_->device_ids, state_->backend_name);
}

Module::Option& Module::Option::SetDummyTensors(std::vector<std::string>& names) {
  state_->dummy_tensors = names;
  return *this;
}

Module::Option& Module::Option::EnableProfile(uint64_t level) {
  state_->profile_level = level;
  return *this;
}

Module::Option& Module::Option::EnableIOLazyMode(bool enable) {
  state_->io_lazy_mode = enable;
  return *this;
}

Module::Option& Module::Option::EnableHostLazyLoading(bool enable) {
  state_->host_lazy_loading = enable;
  return *this;
}

Module::Option& Module::Option::SetModelOffset(uint64_t offset, uint64_t size) {
  state_->model_offset = offset;
  state_->model_size = size;
  return *this;
}

const std::vector<int32_t>& Module::Option::DeviceIds() const { return state_->device_ids; }
const std::string& Module::Option::BackendName() const { return state_->backend_name; }
const std::vector<std::string>& Module::Option::DummyTensors() const { return state_->dummy_tensors; }
uint64_t Module::Option::ProfileLevel() const { return state_->profile_level; }
bool Module::Option::IOLazyMode() const { return state_->io_lazy_mode; }
bool Module::Option::HostLazyLoading() const { return state_->host_lazy_loading; }
uint64_t Module::Option::ModelOffset() const { return state_->model_offset; }
uint64_t Module::Option::ModelSize() const { return state_->model_size; }

// ---- RunOption ----

struct Module::RunOption::State {
  int64_t rounds = 1;
  int64_t core_mask = 0;
};

Module::RunOption::RunOption() : state_(std::make_shared<State>()) {}

Module::RunOption& Module::RunOption::Rounds(int64_t rounds) {
  state_->rounds = rounds;
  return *this;
}

Module::RunOption& Module::RunOption::CoreMask(int64_t mask) {
  state_->core_mask = mask;
  return *this;
}

int64_t Module::RunOption::GetRounds() const { return state_->rounds; }
int64_t Module::RunOption::GetCoreMask() const { return state_->core_mask; }

}  // namespace vadu
