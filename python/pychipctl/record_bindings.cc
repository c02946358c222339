#include "record_bindings.h"

#include "docstrings.h"
#include "registered_types.h"
#include "vadu/dev_ctrl/hal_device.h"

namespace py = pybind11;

namespace vadu::pychipctl {

using dev_ctrl::DvfsMode;
using dev_ctrl::MemInfo;

void BindDvfsMode(py::module_& m) {
  // A scoped enumeration: its values never compare equal to ints.
  py::enum_<DvfsMode>(m, "DvfsMode", doc::kDvfsMode)
      .value("PERFORMANCE", DvfsMode::PERFORMANCE, doc::kPerformance)
      .value("ON_DEMAND", DvfsMode::ON_DEMAND, doc::kOnDemand)
      .export_values();
}

void BindMemInfo(py::module_& m) {
  py::class_<MemInfo>(m, "MemInfo", doc::kMemInfo)
      .def(py::init<>())
      .def_readwrite("mem_total", &MemInfo::mem_total, doc::kMemTotal)
      .def_readwrite("mem_used", &MemInfo::mem_used, doc::kMemUsed)
      .def_readwrite("mem_avail", &MemInfo::mem_avail, doc::kMemAvail);
}

}  // namespace vadu::pychipctl
