// Where a weight's bytes are and where repacked bytes go.
#pragma once

#include <cstdint>
#include <span>

#include "allocation_failure.h"
#include "qdm_generated.h"

namespace vadu::qdmstrip {

// The raw-data alignment rule: the smallest multiple of `align` (64 when 0)
// that is not below `position`. Any positive alignment works, not only powers
// of two. A multiple beyond 64 bits gives kLayoutBeyond64Bits, which no
// allocation passes, so a layout never wraps around; offset 0 suits any alignment.
inline uint64_t AlignedPosition(uint64_t position, uint64_t align) {
  const uint64_t a = align == 0 ? 64 : align;
  if (position > kLayoutBeyond64Bits - (a - 1)) return kLayoutBeyond64Bits;
  return (position + a - 1) / a * a;
}

// True when [offset, offset + size) lies inside a vector of `length` bytes,
// compared without wrap-around, so the stripped-weight marker never fits.
inline bool RangeFits(uint64_t offset, uint64_t size, uint64_t length) {
  return offset <= length && size <= length - offset;
}

// The bytes a header addresses: in the model's raw_data for a RAW_OFFSET
// Binary, in the Binary's own data otherwise. Empty when the vector is absent
// or the range does not fit (check `found`).
struct WeightBytes {
  bool found = false;
  std::span<const uint8_t> bytes;
};
WeightBytes LocateWeightBytes(const binary::Model &model, const binary::Binary &blob,
                              const binary::BinaryHeader &header);

inline bool IsRawOffset(const binary::Binary &blob) { return blob.type() == binary::BinaryType_RAW_OFFSET; }

}  // namespace vadu::qdmstrip
