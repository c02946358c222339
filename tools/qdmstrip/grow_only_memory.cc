#include "grow_only_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

#include "allocation_failure.h"

namespace vadu::qdmstrip {
namespace {

constexpr size_t kGranule = size_t{2} << 20;

size_t RoundUp(size_t bytes) { return (bytes + kGranule - 1) / kGranule * kGranule; }

}  // namespace

GrowOnlyMemory::~GrowOnlyMemory() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

void GrowOnlyMemory::Reserve(uint64_t bytes) {
  if (bytes <= capacity_) return;
  if (bytes > SIZE_MAX - kGranule) throw AllocationFailure(bytes, purpose_);
  // Half as much again, so that a run of small growths does not remap each time.
  const size_t capacity = RoundUp(std::max(static_cast<size_t>(bytes), capacity_ + capacity_ / 2));
  void *p = data_ == nullptr ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                             : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) throw AllocationFailure(bytes, purpose_);
  data_ = static_cast<uint8_t *>(p);
  capacity_ = capacity;
}

}  // namespace vadu::qdmstrip
