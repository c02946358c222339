#include "status_binding.h"

#include "vadu/status.h"

namespace py = pybind11;

namespace vadu::pychipctl {

void BindStatus(py::module_& m) {
  try {
    py::object status = py::module_::import("vadu_lite.pyvadu").attr("Status");
    m.attr("Status") = status;
    return;
  } catch (const py::error_already_set&) {
    // No pyvadu here: the Python error is dropped and we register Status ourselves.
  }
  py::enum_<vadu::Status>(m, "Status")
      .value("ERR_UNDEFINED", vadu::ERR_UNDEFINED)
      .value("OK", vadu::OK)
      .value("UNINITIALIZED", vadu::UNINITIALIZED)
      .value("OUT_OF_RANGE", vadu::OUT_OF_RANGE)
      .value("UNSUPPORTED", vadu::UNSUPPORTED)
      .value("INVALID_ARGUMENT", vadu::INVALID_ARGUMENT)
      .value("ALREADY_EXISTS", vadu::ALREADY_EXISTS)
      .value("PERMISSION_DENIED", vadu::PERMISSION_DENIED)
      .value("UNAVAILABLE", vadu::UNAVAILABLE)
      .value("UNAUTHENTICATED", vadu::UNAUTHENTICATED)
      .value("RESOURCE_EXHAUSTED", vadu::RESOURCE_EXHAUSTED)
      .value("TIMEOUT", vadu::TIMEOUT)
      .value("ERR_KERNEL", vadu::ERR_KERNEL)
      .value("ERR_FATAL", vadu::ERR_FATAL)
      .export_values();
}

}  // namespace vadu::pychipctl
