// Lowers qdmstrip's allocation limit for one test, so that a test can show
// what a run is refused or allowed without the machine's memory deciding.
#pragma once

#include <cstdint>
#include <string>

#include "allocation_failure.h"

namespace vadu::qdmstrip::testing {

class LoweredAllocationLimit {
 public:
  explicit LoweredAllocationLimit(uint64_t bytes) { SetAllocationLimit(bytes); }
  ~LoweredAllocationLimit() { SetAllocationLimit(kLayoutBeyond64Bits); }
  LoweredAllocationLimit(const LoweredAllocationLimit &) = delete;
  LoweredAllocationLimit &operator=(const LoweredAllocationLimit &) = delete;
};

// What the allocation check said when `reserve` was refused.
template <typename Reserve>
std::string RefusalOf(Reserve reserve) {
  try {
    reserve();
  } catch (const AllocationFailure &failure) {
    return failure.what();
  }
  return "nothing refused";
}

}  // namespace vadu::qdmstrip::testing
