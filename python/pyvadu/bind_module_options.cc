#include <pybind11/stl.h>

#include "bindings.h"
#include "vadu/runtime/module.h"

namespace vadu::python {

// The fluent setters return a reference to the option they changed; the
// framework hands back the Python object that already wraps it.

void BindWeightManager(py::module_& m) {
  using WeightManager = vadu::Module::WeightManager;
  py::class_<WeightManager>(m, "WeightManager")
      .def(py::init<>())
      .def_static("create_weight_manager", py::overload_cast<int>(&WeightManager::CreateWeightManager))
      .def_static("create_weight_manager",
                  py::overload_cast<const vadu::DevManager&>(&WeightManager::CreateWeightManager));
}

void BindOption(py::module_& m) {
  using Option = vadu::Module::Option;
  py::class_<Option>(m, "Option")
      .def(py::init<int>())
      .def(py::init<vadu::Module::WeightManager&>())
      .def(py::init<const vadu::DevManager&>())
      .def("set_dummy_tensors", &Option::SetDummyTensors)
      .def("enable_profile", &Option::EnableProfile)
      .def("enable_io_lazy_mode", &Option::EnableIOLazyMode)
      .def("enable_host_lazy_loading", &Option::EnableHostLazyLoading)
      .def("set_model_offset", &Option::SetModelOffset);
}

void BindRunOption(py::module_& m) {
  using RunOption = vadu::Module::RunOption;
  py::class_<RunOption>(m, "RunOption")
      .def(py::init<>())
      .def("Rounds", &RunOption::Rounds)
      .def("CoreMask", &RunOption::CoreMask)
      .def_property("rounds", &RunOption::GetRounds, [](RunOption& option, int64_t rounds) { option.Rounds(rounds); })
      .def_property("core_mask", &RunOption::GetCoreMask,
                    [](RunOption& option, int64_t mask) { option.CoreMask(mask); });
}

}  // namespace vadu::python
