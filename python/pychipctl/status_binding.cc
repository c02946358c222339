#include "status_binding.h"

#include "registered_types.h"
#include "status_enum.h"

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
  vadu::python::RegisterStatusEnum(m);
}

}  // namespace vadu::pychipctl
