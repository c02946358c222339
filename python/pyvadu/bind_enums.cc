#include "bindings.h"
#include "status_enum.h"
#include "vadu/runtime/enums.h"

namespace vadu::python {

void BindEnums(py::module_& m) {
  // Status is a global type: pychipctl returns its statuses through it.
  RegisterStatusEnum(m);

  py::enum_<vadu::DataFmt>(m, "DataFmt")
      .value("YUV420SP", vadu::YUV420SP)
      .value("YUV422SP", vadu::YUV422SP)
      .value("YUV444SP", vadu::YUV444SP)
      .value("ND", vadu::ND)
      .export_values();

  py::enum_<vadu::DataType>(m, "DataType")
      .value("INT8", vadu::INT8)
      .value("UINT8", vadu::UINT8)
      .value("INT16", vadu::INT16)
      .value("UINT16", vadu::UINT16)
      .value("INT32", vadu::INT32)
      .value("UINT32", vadu::UINT32)
      .value("FLOAT16", vadu::FLOAT16)
      .value("FLOAT32", vadu::FLOAT32)
      .export_values();

  py::enum_<vadu::Device>(m, "Device")
      .value("CPU", vadu::CPU)
      .value("HDPL", vadu::HDPL)
      .value("COMPND", vadu::COMPND)
      .export_values();
}

}  // namespace vadu::python
