// Status codes shared by the runtime and device-control libraries: both Python
// modules convert results through this one enumeration type. Its underlying
// type is fixed, so that every int is one of its values: Python may construct any.
#pragma once

namespace vadu {

enum Status : int {
  ERR_UNDEFINED = -1,
  OK = 0,
  UNINITIALIZED = 1,
  OUT_OF_RANGE = 2,
  UNSUPPORTED = 3,
  INVALID_ARGUMENT = 4,
  ALREADY_EXISTS = 5,
  PERMISSION_DENIED = 6,
  UNAVAILABLE = 7,
  UNAUTHENTICATED = 8,
  RESOURCE_EXHAUSTED = 9,
  TIMEOUT = 10,
  ERR_KERNEL = 11,
  ERR_FATAL = 12,
};

}  // namespace vadu
