// Registration functions of the pyvadu module, one per group of bindings.
// module.cc calls them in registration order: a type has to be registered
// before the signatures of later members show its Python name.
#pragma once

#include <pybind11/pybind11.h>

#include "registered_types.h"

namespace vadu::python {

namespace py = pybind11;

// get_version, get_device_num, get_supported_backend.
void BindModuleFunctions(py::module_& m);
// Status, DataFmt, DataType, Device, each with its values exported into m.
void BindEnums(py::module_& m);
void BindBuffer(py::module_& m);
void BindTensorInfo(py::module_& m);
void BindStream(py::module_& m);
void BindTensor(py::module_& m);
void BindDevManager(py::module_& m);
void BindWeightManager(py::module_& m);
void BindOption(py::module_& m);
void BindRunOption(py::module_& m);
void BindModule(py::module_& m);
// Config, RectPad, RectRoi, EnInterpMode, EnAlignMode, ResizerOption,
// ResizerRunOption, Resizer, ColorConverterOption, ColorConverter, into imageops.
void BindImageOps(py::module_& imageops);

}  // namespace vadu::python
