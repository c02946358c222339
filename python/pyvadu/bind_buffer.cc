#include <cstdint>

#include <pybind11/numpy.h>

#include "bindings.h"
#include "numpy_interface.h"
#include "vadu/runtime/buffer.h"

namespace vadu::python {
namespace {

void* AddressToPointer(int64_t address) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(address));
}

// The copies treat the array as one run of bytes from its first element, so
// they serve C-contiguous arrays only; anything else would read or write
// memory outside the array's elements. Items that hold Python objects are
// refused too: their bytes are object pointers, which must not be written
// over or handed to the library as data.
py::buffer_info ContiguousView(const py::array& array, const char* member, bool for_writing) {
  if (array.dtype().attr("hasobject").cast<bool>()) {
    throw py::value_error(std::string(member) + " needs an array without Python objects");
  }
  if ((array.flags() & py::array::c_style) == 0) {
    throw py::value_error(std::string(member) + " needs a C-contiguous array");
  }
  if (for_writing && !array.writeable()) {
    throw py::value_error(std::string(member) + " needs a writeable array");
  }
  return array.request();
}

vadu::Status CopyFromHost(vadu::Buffer& self, const NumpyArrayArgument& array, int64_t offset) {
  py::buffer_info view = ContiguousView(array.Array(), "copy_from_host", false);
  const auto bytes = static_cast<uint64_t>(view.itemsize * view.size);
  return self.CopyFromHost(view.ptr, bytes, static_cast<uint64_t>(offset));
}

vadu::Status CopyToHost(vadu::Buffer& self, const NumpyArrayArgument& array, int64_t offset) {
  py::buffer_info view = ContiguousView(array.Array(), "copy_to_host", true);
  const auto bytes = static_cast<uint64_t>(view.itemsize * view.size);
  return self.CopyToHost(view.ptr, bytes, static_cast<uint64_t>(offset));
}

vadu::Status MemSet(vadu::Buffer& self, int32_t value, uint64_t size, int64_t offset) {
  if (value < INT8_MIN || value > INT8_MAX) throw py::value_error("value out of int8_t range");
  return self.MemSet(static_cast<int8_t>(value), size, static_cast<uint64_t>(offset));
}

}  // namespace

void BindBuffer(py::module_& m) {
  py::class_<vadu::Buffer>(m, "Buffer")
      .def(py::init<>())
      .def_static("create_device_buffer",
                  py::overload_cast<uint64_t, int32_t, const std::string&, const std::string&>(
                      &vadu::Buffer::CreateDeviceBuffer),
                  "Create Device Buffer by backend_name", py::arg("size"),
                  py::arg("device_id") = 0, py::arg("backend_name") = "",
                  py::arg("dev_type_name") = "")
      .def_static("create_device_buffer",
                  [](int64_t address, uint64_t size, int32_t device_id,
                     const std::string& backend_name) {
                    return vadu::Buffer::CreateDeviceBuffer(AddressToPointer(address), size,
                                                            device_id, backend_name);
                  })
      .def_static("create_host_buffer",
                  [](uint64_t size, int64_t address) {
                    return vadu::Buffer::CreateHostBuffer(size, AddressToPointer(address));
                  })
      .def("copy_from_host", &CopyFromHost)
      .def("copy_to_host", &CopyToHost)
      .def("memset", &MemSet, py::arg("value") = 0, py::arg("size") = 0, py::arg("offset") = 0)
      .def("copy_to", &vadu::Buffer::CopyTo)
      .def("clone", &vadu::Buffer::Clone, "Clone buffer", py::arg("auto_copy") = true)
      .def("get_sub_buffer", &vadu::Buffer::GetSubBuffer,
           "Get a sub-buffer sharing the same memory", py::arg("size"), py::arg("offset") = 0)
      .def_property_readonly("init_status", &vadu::Buffer::GetInitStatus)
      .def_property_readonly("data",
                             [](const vadu::Buffer& self) {
                               return static_cast<int64_t>(
                                   reinterpret_cast<intptr_t>(self.Data()));
                             })
      .def_property_readonly("size", &vadu::Buffer::Size)
      .def_property_readonly("device", &vadu::Buffer::Device)
      .def_property_readonly("device_id", &vadu::Buffer::DeviceId);
}

}  // namespace vadu::python
