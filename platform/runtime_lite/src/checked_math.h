// Size arithmetic that reports overflow instead of wrapping. Sizes are kept
// at or below INT64_MAX so they also fit every signed consumer.
#pragma once

#include <cstdint>
#include <limits>

namespace vadu::sim {

inline constexpr uint64_t MAX_SIZE = std::numeric_limits<int64_t>::max();

inline bool CheckedMul(uint64_t a, uint64_t b, uint64_t& out) {
  return !__builtin_mul_overflow(a, b, &out) && out <= MAX_SIZE;
}

inline bool CheckedAdd(uint64_t a, uint64_t b, uint64_t& out) {
  return !__builtin_add_overflow(a, b, &out) && out <= MAX_SIZE;
}

// Rounds size up to a multiple of align (0 and 1 leave it as it is).
inline bool CheckedRoundUp(uint64_t size, uint64_t align, uint64_t& out) {
  if (align <= 1 || size % align == 0) {
    out = size;
    return size <= MAX_SIZE;
  }
  return CheckedAdd(size, align - size % align, out);
}

}  // namespace vadu::sim
