#include "bindings.h"
#include "vadu/runtime/stream.h"

namespace vadu::python {

void BindStream(py::module_& m) {
  py::class_<vadu::Stream>(m, "Stream")
      .def(py::init<bool>())
      .def("sync", &vadu::Stream::Sync)
      .def("sync_yield", &vadu::Stream::SyncYield)
      .def_property_readonly("init_status", &vadu::Stream::GetInitStatus);
}

}  // namespace vadu::python
