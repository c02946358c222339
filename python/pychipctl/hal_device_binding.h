#pragma once

#include <pybind11/pybind11.h>

namespace vadu::pychipctl {

// HalDevice (no constructor, held by std::shared_ptr) and HalDeviceFactory.
void BindHalDevice(pybind11::module_& m);
void BindHalDeviceFactory(pybind11::module_& m);

}  // namespace vadu::pychipctl
