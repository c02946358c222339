// One block of anonymous memory that only grows and keeps its content when
// it does (it may move). Pages are taken from the system only when first
// written, so reserving more than will be used costs nothing. The block does
// not check what it reserves against the allocation limit: its owner, which
// knows what it will write, checks that instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace vadu::qdmstrip {

class GrowOnlyMemory {
 public:
  // `purpose` names the memory when it cannot be had.
  explicit GrowOnlyMemory(std::string purpose) : purpose_(std::move(purpose)) {}
  ~GrowOnlyMemory();
  GrowOnlyMemory(const GrowOnlyMemory &) = delete;
  GrowOnlyMemory &operator=(const GrowOnlyMemory &) = delete;

  // Makes at least `bytes` usable. Throws AllocationFailure when the system refuses.
  void Reserve(uint64_t bytes);

  uint8_t *data() const { return data_; }
  size_t capacity() const { return capacity_; }
  bool Contains(const uint8_t *p) const { return data_ != nullptr && p >= data_ && p < data_ + capacity_; }

 private:
  std::string purpose_;
  uint8_t *data_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace vadu::qdmstrip
