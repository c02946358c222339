// Views of a tensor's memory as numpy arrays.
#pragma once

#include <pybind11/numpy.h>

#include "vadu/runtime/tensor.h"

namespace vadu::python {

namespace py = pybind11;

// A writeable array over the tensor's memory, without copying. ND tensors give
// an array of their element type, shape and strides; other formats a flat
// uint8 array of MemSize - SpanSize bytes. The array's base is a capsule that
// holds a copy of the buffer handle, so the memory outlives the Tensor and
// Buffer objects. Raises ValueError for a tensor that is not initialised or
// whose data type has no numpy element type.
py::array TensorToArray(const vadu::Tensor& tensor);

}  // namespace vadu::python
