#include "numpy_interface.h"

#include "gil_safe_once.h"

namespace vadu::python {
namespace {

constinit GilSafeOnce numpy_loaded("numpy support");

}  // namespace

void LoadNumpyInterface() {
  // Imports "numpy.core.multiarray" and takes the array interface from its
  // capsule; an import error or a numpy that is too old propagates from here.
  numpy_loaded.Run([] { py::detail::npy_api::get(); });
}

}  // namespace vadu::python
