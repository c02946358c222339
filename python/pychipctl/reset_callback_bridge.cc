#include "reset_callback_bridge.h"

#include <utility>

namespace py = pybind11;

namespace vadu::pychipctl {

void PythonResetCallback::operator()(int device_id) const {
  py::gil_scoped_acquire gil;
  target_(device_id);  // the result is dropped; a raise throws error_already_set
}

dev_ctrl::ResetCallback MakeResetCallback(py::object target) {
  return PythonResetCallback(std::move(target));
}

}  // namespace vadu::pychipctl
