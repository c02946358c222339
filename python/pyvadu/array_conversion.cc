#include "array_conversion.h"

#include <string>
#include <vector>

#include "numpy_interface.h"

namespace vadu::python {
namespace {

py::dtype ElementType(vadu::DataType dtype) {
  const py::dtype* found = NumpyElementType(dtype);
  if (found == nullptr) {
    throw py::value_error("DataType " + std::to_string(static_cast<int>(dtype)) +
                          " has no numpy element type");
  }
  return *found;
}

// Owns a copy of the buffer handle for as long as an array views the memory.
py::capsule MakeKeeper(const vadu::Buffer& buffer) {
  auto* kept = new vadu::Buffer(buffer);
  try {
    return py::capsule(kept, [](void* handle) { delete static_cast<vadu::Buffer*>(handle); });
  } catch (...) {
    delete kept;
    throw;
  }
}

std::vector<py::ssize_t> ByteStrides(const vadu::TensorInfo& info) {
  const std::vector<int64_t>& given = info.Stride();
  if (!given.empty()) return {given.begin(), given.end()};
  const std::vector<int64_t>& shape = info.Shape();
  std::vector<py::ssize_t> strides(shape.size());
  if (!strides.empty()) {
    strides.back() = static_cast<py::ssize_t>(info.DataTypeSize());
    for (size_t i = strides.size() - 1; i > 0; --i) strides[i - 1] = shape[i] * strides[i];
  }
  return strides;
}

}  // namespace

py::array TensorToArray(const vadu::Tensor& tensor) {
  if (tensor.GetInitStatus() != vadu::OK) throw py::value_error("tensor is not inited");
  LoadNumpyInterface();
  const vadu::TensorInfo& info = tensor.Info();
  py::capsule keeper = MakeKeeper(tensor.Buffer());
  void* data = tensor.Buffer().Data();
  if (info.Format() == vadu::ND) {
    std::vector<py::ssize_t> strides = ByteStrides(info);
    std::vector<py::ssize_t> shape(info.Shape().begin(), info.Shape().end());
    return py::array(ElementType(info.DataType()), std::move(shape), std::move(strides), data,
                     keeper);
  }
  const auto length = static_cast<py::ssize_t>(info.MemSize() - info.SpanSize());
  return py::array(py::dtype("uint8"), {length}, {py::ssize_t{1}}, data, keeper);
}

}  // namespace vadu::python
