// A set of simulated devices that models are loaded onto.
//
// A DevManager is a handle: copies share one description of the set. The
// name given to Create is the backend ("" is the default backend). Create
// only records the indices; Verify checks that each names a device of that
// backend, so a manager can be described before its devices are there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vadu/runtime/enums.h"

namespace vadu {

class DevManager {
 public:
  // An empty manager: GetInitStatus is UNINITIALIZED and DevCount 0.
  DevManager();
  virtual ~DevManager();
  DevManager(const DevManager&) = default;
  DevManager(DevManager&&) = default;
  DevManager& operator=(const DevManager&) = default;
  DevManager& operator=(DevManager&&) = default;

  static DevManager Create(int32_t device_id, const std::string& name);
  // An empty list or an index given twice gives INVALID_ARGUMENT.
  static DevManager Create(const std::vector<int32_t>& device_ids, const std::string& name);

  // The number of devices in the set; 0 unless GetInitStatus is OK.
  int32_t DevCount() const;
  // OK when every index names a device of the backend; UNSUPPORTED for a
  // backend this library does not have, INVALID_ARGUMENT for a missing
  // device, UNINITIALIZED (or the failure of Create) for an unusable manager.
  Status Verify() const;
  Status GetInitStatus() const;

  // The indices in the order given (empty unless GetInitStatus is OK).
  const std::vector<int32_t>& DeviceIds() const;
  // The backend, with "" resolved to the default backend.
  const std::string& BackendName() const;

 private:
  struct State;
  explicit DevManager(std::shared_ptr<const State> state);

  std::shared_ptr<const State> state_;
};

}  // namespace vadu
