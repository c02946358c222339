// numpy's array interface, loaded on first use and safely from several threads.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "vadu/runtime/enums.h"

namespace vadu::python {

namespace py = pybind11;

// Imports numpy and sets up the framework's numpy support, and numpy's element
// types for the tensor data types, once per process. Everything that touches
// that support calls this first: the support keeps its state in a
// function-local static whose initialiser runs Python code, and only here is
// it first reached in a way that other threads and forks cannot block.
void LoadNumpyInterface();

// Registers the fork hook that keeps that set-up sound across forks;
// called when the module is imported, so that no fork can miss it.
void GuardNumpyInterfaceAcrossForks();

// numpy's element type for a tensor data type, or null for a data type that
// has none. Call LoadNumpyInterface first.
const py::dtype* NumpyElementType(vadu::DataType type);

// A numpy array argument (an instance of the array type or of a subclass).
// Its conversion loads the numpy interface before it looks at the argument.
struct NumpyArrayArgument {
  py::array Array() const { return py::reinterpret_borrow<py::array>(object); }

  py::object object;
};

}  // namespace vadu::python

namespace pybind11::detail {

template <>
struct type_caster<vadu::python::NumpyArrayArgument> {
  PYBIND11_TYPE_CASTER(vadu::python::NumpyArrayArgument, const_name("numpy.ndarray"));

  bool load(handle source, bool /*convert*/) {
    vadu::python::LoadNumpyInterface();
    if (!isinstance<array>(source)) return false;
    value.object = reinterpret_borrow<object>(source);
    return true;
  }
};

}  // namespace pybind11::detail
