// Element access and conversion for the eight data types, and the walk over
// the elements of strided tensors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vadu/runtime/enums.h"

namespace vadu::sim {

// IEEE 754 binary16, rounding to nearest even; overflow gives infinity.
uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t half);

// Every value of the eight types is exact in a double.
double LoadElement(const uint8_t* element, DataType dtype);
// Floating-point to integer truncates toward zero; out-of-range values
// saturate; NaN stores 0 in integer types.
void StoreElement(uint8_t* element, DataType dtype, double value);

// Calls visit(offset_a, offset_b) with the byte offsets of each element of a
// tensor of this shape under two stride lists, in row-major order. Rank 0 is
// one element at offset 0 in both.
template <typename Visit>
void ForEachElementPair(const std::vector<int64_t>& shape, const std::vector<int64_t>& strides_a,
                        const std::vector<int64_t>& strides_b, Visit visit) {
  for (int64_t extent : shape) {
    if (extent == 0) return;
  }
  std::vector<int64_t> index(shape.size(), 0);
  int64_t offset_a = 0;
  int64_t offset_b = 0;
  while (true) {
    visit(offset_a, offset_b);
    std::size_t dim = shape.size();
    while (dim > 0) {
      --dim;
      if (++index[dim] < shape[dim]) {
        offset_a += strides_a[dim];
        offset_b += strides_b[dim];
        break;
      }
      offset_a -= strides_a[dim] * (shape[dim] - 1);
      offset_b -= strides_b[dim] * (shape[dim] - 1);
      index[dim] = 0;
      if (dim == 0) return;
    }
    if (shape.empty()) return;
  }
}

}  // namespace vadu::sim
