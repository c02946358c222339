#include <pybind11/stl.h>

#include "bindings.h"
#include "vadu/runtime/backend.h"

namespace vadu::python {

void BindModuleFunctions(py::module_& m) {
  m.def("get_version", &vadu::GetVersion);
  m.def("get_device_num", &vadu::GetDeviceNum);
  m.def("get_supported_backend", &vadu::GetSupportedBackend);
}

}  // namespace vadu::python
