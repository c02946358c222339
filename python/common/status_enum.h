// The Status enumeration as both Python modules register it: pyvadu always,
// pychipctl only when pyvadu cannot be imported.
#pragma once

#include <pybind11/pybind11.h>

#include "vadu/status.h"

namespace vadu::python {

inline void RegisterStatusEnum(pybind11::module_ &m) {
  pybind11::enum_<vadu::Status>(m, "Status")
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

}  // namespace vadu::python
