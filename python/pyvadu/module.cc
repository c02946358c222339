// Entry point of the pyvadu module. The framework's entry function checks the
// interpreter series the module was built for, creates the module and turns
// an error raised while registering into an ImportError.
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "numpy_interface.h"
#include "self_argument_record.h"

namespace py = pybind11;

PYBIND11_MODULE(pyvadu, m) {
  using namespace vadu::python;
  m.doc() = "Python bindings for vadu runtime";
  GuardNumpyInterfaceAcrossForks();

  BindModuleFunctions(m);
  BindEnums(m);
  BindBuffer(m);
  BindTensorInfo(m);
  BindStream(m);
  BindTensor(m);

  BindDevManager(m);
  BindWeightManager(m);
  BindOption(m);
  BindRunOption(m);
  BindModule(m);

  py::module_ imageops = m.def_submodule("imageops", "ImageOps bindings");
  BindImageOps(imageops);

  RefuseNoneAsSelf(m);
}
