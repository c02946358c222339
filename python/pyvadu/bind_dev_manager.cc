#include <pybind11/stl.h>

#include "bindings.h"
#include "vadu/runtime/dev_manager.h"

namespace vadu::python {

void BindDevManager(py::module_& m) {
  using vadu::DevManager;
  py::class_<DevManager>(m, "DevManager")
      .def(py::init<>())
      .def_static("create", py::overload_cast<int32_t, const std::string&>(&DevManager::Create))
      .def_static("create", py::overload_cast<const std::vector<int32_t>&, const std::string&>(&DevManager::Create))
      .def_property_readonly("init_status", &DevManager::GetInitStatus)
      .def_property_readonly("dev_count", &DevManager::DevCount)
      .def("verify", &DevManager::Verify);
}

}  // namespace vadu::python
