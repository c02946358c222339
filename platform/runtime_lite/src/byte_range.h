// Range arithmetic that cannot wrap around.
#pragma once

#include <cstdint>

namespace vadu::sim {

// True when [offset, offset + size) lies inside [0, limit).
inline bool RangeFits(uint64_t offset, uint64_t size, uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

}  // namespace vadu::sim
