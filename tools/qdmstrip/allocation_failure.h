// Allocations whose size a model decides (the new raw data, a Binary's new
// data, the blob of a container) can ask for more than any machine has: a few
// headers with large alignments lay out terabytes. Such a request fails with
// AllocationFailure, which says what it was for; the run functions turn it,
// like any other std::bad_alloc, into an "[ERROR] " line and exit code 1.
#pragma once

#include <cstdint>
#include <functional>
#include <new>
#include <string>

namespace vadu::qdmstrip {

class AllocationFailure : public std::bad_alloc {
 public:
  explicit AllocationFailure(std::string message) : message_(std::move(message)) {}
  // `bytes` of kLayoutBeyond64Bits says the size did not fit in 64 bits.
  AllocationFailure(uint64_t bytes, const std::string &purpose);
  const char *what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A layout length that did not fit in 64 bits: sums that would wrap stay here.
inline constexpr uint64_t kLayoutBeyond64Bits = UINT64_MAX;

inline uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > kLayoutBeyond64Bits - b ? kLayoutBeyond64Bits : a + b; }

// The most one allocation may ask for: the machine's memory and swap, which
// no single block beyond can be had (whatever the kernel's overcommit policy
// would promise), or less after SetAllocationLimit.
uint64_t AllocationLimit();
// Lowers the limit for the whole process, for callers that must stay small.
void SetAllocationLimit(uint64_t bytes);

// Throws AllocationFailure for `purpose` when `bytes` is above the limit.
void CheckAllocation(uint64_t bytes, const std::string &purpose);

// Runs one job and returns its exit code; an allocation that cannot be had
// ends it with "[ERROR] " and what could not be allocated, and exit code 1.
int RunReportingAllocationFailure(const std::function<int()> &job);

}  // namespace vadu::qdmstrip
