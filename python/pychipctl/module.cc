// The pychipctl extension module: Python face of the device-control library.
#include <pybind11/pybind11.h>

#include "docstrings.h"
#include "hal_device_binding.h"
#include "record_bindings.h"
#include "self_argument_record.h"
#include "status_binding.h"

PYBIND11_MODULE(pychipctl, m) {
  using namespace vadu::pychipctl;
  m.doc() = doc::kModule;
  BindStatus(m);
  BindDvfsMode(m);
  BindMemInfo(m);
  BindHalDevice(m);
  BindHalDeviceFactory(m);

  vadu::python::RefuseNoneAsSelf(m);
}
