#include "allocation_failure.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <atomic>
#include <iostream>

namespace vadu::qdmstrip {
namespace {

std::atomic<uint64_t> &LoweredLimit() {
  static std::atomic<uint64_t> limit{kLayoutBeyond64Bits};
  return limit;
}

uint64_t MachineMemory() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return kLayoutBeyond64Bits;
  const uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
  return SaturatingAdd(uint64_t{info.totalram} * unit, uint64_t{info.totalswap} * unit);
}

std::string Describe(uint64_t bytes, const std::string &purpose) {
  if (bytes == kLayoutBeyond64Bits) return "Out of memory: cannot allocate " + purpose + ": its size does not fit in 64 bits";
  return "Out of memory: cannot allocate " + std::to_string(bytes) + " bytes for " + purpose;
}

}  // namespace

AllocationFailure::AllocationFailure(uint64_t bytes, const std::string &purpose)
    : message_(Describe(bytes, purpose)) {}

uint64_t AllocationLimit() {
  static const uint64_t machine = MachineMemory();
  return std::min(machine, LoweredLimit().load());
}

void SetAllocationLimit(uint64_t bytes) { LoweredLimit().store(bytes); }

void CheckAllocation(uint64_t bytes, const std::string &purpose) {
  if (bytes > AllocationLimit()) throw AllocationFailure(bytes, purpose);
}

int RunReportingAllocationFailure(const std::function<int()> &job) {
  try {
    return job();
  } catch (const AllocationFailure &failure) {
    std::cerr << "[ERROR] " << failure.what() << "\n";
  } catch (const std::bad_alloc &failure) {
    std::cerr << "[ERROR] Out of memory: an allocation of the job failed (" << failure.what() << ")\n";
  }
  return 1;
}

}  // namespace vadu::qdmstrip
