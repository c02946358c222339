// Enumerations of the runtime library. They are unscoped on purpose: the Python
// binding compares their members with plain integers. Their underlying type is
// fixed, so that every value of it is one of theirs: Python may construct any.
#pragma once

#include "vadu/status.h"

namespace vadu {

// Memory layout of a tensor: three semi-planar YUV layouts (a Y plane followed by
// one interleaved UV plane) and plain N-dimensional arrays.
enum DataFmt : unsigned int {
  YUV420SP = 0,
  YUV422SP = 1,
  YUV444SP = 2,
  ND = 5,
};

enum DataType : unsigned int {
  INT8 = 0,
  UINT8 = 1,
  INT16 = 2,
  UINT16 = 3,
  INT32 = 4,
  UINT32 = 5,
  FLOAT16 = 6,
  FLOAT32 = 7,
};

// Where a buffer lives: host memory, or the memory of an accelerator device
// (HDPL a single device, COMPND a compound of devices).
enum Device : unsigned int {
  CPU = 0,
  HDPL = 1,
  COMPND = 5,
};

}  // namespace vadu
