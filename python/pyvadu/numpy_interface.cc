#include "numpy_interface.h"

#include <unordered_map>

#include "gil_safe_once.h"

namespace vadu::python {
namespace {

constinit GilSafeOnce numpy_support("numpy support");

using ElementTypes = std::unordered_map<int, py::dtype>;
// Built once and never destroyed: its dtype objects must not be released
// after the interpreter has finalised.
const ElementTypes* element_types = nullptr;

// The interpreter's own import, which copes with several threads importing at
// once; the set-up's init then finds the module loaded.
void ImportArrayInterface() { py::module_::import("numpy.core.multiarray"); }

// Takes the array interface from the module's capsule (a numpy that is too
// old fails here) and builds the element types with it.
void SetUpNumpySupport() {
  py::detail::npy_api::get();
  element_types = new ElementTypes{
      {vadu::INT8, py::dtype("int8")},       {vadu::UINT8, py::dtype("uint8")},
      {vadu::INT16, py::dtype("int16")},     {vadu::UINT16, py::dtype("uint16")},
      {vadu::INT32, py::dtype("int32")},     {vadu::UINT32, py::dtype("uint32")},
      {vadu::FLOAT16, py::dtype("float16")}, {vadu::FLOAT32, py::dtype("float32")},
  };
}

}  // namespace

void GuardNumpyInterfaceAcrossForks() { numpy_support.GuardAcrossForks(); }

void LoadNumpyInterface() { numpy_support.Run(ImportArrayInterface, SetUpNumpySupport); }

const py::dtype* NumpyElementType(vadu::DataType type) {
  const auto found = element_types->find(static_cast<int>(type));
  return found == element_types->end() ? nullptr : &found->second;
}

}  // namespace vadu::python
