#pragma once

#include <pybind11/pybind11.h>

namespace vadu::pychipctl {

// DvfsMode (scoped, values exported) and MemInfo.
void BindDvfsMode(pybind11::module_& m);
void BindMemInfo(pybind11::module_& m);

}  // namespace vadu::pychipctl
