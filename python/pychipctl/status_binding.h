#pragma once

#include <pybind11/pybind11.h>

namespace vadu::pychipctl {

// Sets the module's Status to pyvadu's, or registers an identical one of our
// own (values exported) when pyvadu cannot be imported or has none.
void BindStatus(pybind11::module_& m);

}  // namespace vadu::pychipctl
