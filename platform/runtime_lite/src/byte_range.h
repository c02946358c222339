// Range arithmetic that cannot wrap around.
#pragma once

#include <cstdint>

namespace vadu::sim {

// True when [offset, offset + size) lies inside [0, limit).
inline bool RangeFits(uint64_t offset, uint64_t size, uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

// True when the byte ranges [a, a + a_size) and [b, b + b_size) share a byte.
inline bool RangesOverlap(const void* a, uint64_t a_size, const void* b, uint64_t b_size) {
  const auto a_begin = reinterpret_cast<uintptr_t>(a);
  const auto b_begin = reinterpret_cast<uintptr_t>(b);
  return a_begin < b_begin + b_size && b_begin < a_begin + a_size;
}

}  // namespace vadu::sim
