#include "array_conversion.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "gil_safe_once.h"
#include "numpy_interface.h"

namespace vadu::python {
namespace {

using ElementTypes = std::unordered_map<int, py::dtype>;

constinit GilSafeOnce element_types_built("numpy support");
const ElementTypes* element_types = nullptr;

// Built once on first use and never destroyed: its dtype objects must not be
// released after the interpreter has finalised.
const ElementTypes& ElementTypeTable() {
  element_types_built.Run([] {
    element_types = new ElementTypes{
        {vadu::INT8, py::dtype("int8")},       {vadu::UINT8, py::dtype("uint8")},
        {vadu::INT16, py::dtype("int16")},     {vadu::UINT16, py::dtype("uint16")},
        {vadu::INT32, py::dtype("int32")},     {vadu::UINT32, py::dtype("uint32")},
        {vadu::FLOAT16, py::dtype("float16")}, {vadu::FLOAT32, py::dtype("float32")},
    };
  });
  return *element_types;
}

py::dtype ElementType(vadu::DataType dtype) {
  const auto& table = ElementTypeTable();
  const auto found = table.find(static_cast<int>(dtype));
  if (found == table.end()) {
    throw py::value_error("DataType " + std::to_string(static_cast<int>(dtype)) +
                          " has no numpy element type");
  }
  return found->second;
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
