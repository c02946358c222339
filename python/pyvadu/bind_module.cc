#include <pybind11/stl.h>

#include "bindings.h"
#include "vadu/runtime/module.h"

namespace vadu::python {

void BindModule(py::module_& m) {
  using vadu::Module;
  // One Option(0), made now and passed by every call that leaves out option.
  const py::object default_option = py::cast(Module::Option(0));

  py::class_<Module>(m, "Module")
      .def(py::init<const std::string&, const Module::Option&>())
      .def_static("load", &Module::LoadFromFile, py::arg("filename"),
                  py::arg_v("option", default_option, "Option(0)"), "Load model from file")
      .def_static("load_model_info", &Module::LoadModelInfo, py::arg("filename"), "Load model info json from file")
      .def("load_model", &Module::LoadModel, py::arg("filename"), py::arg_v("option", default_option, "Option(0)"),
           "Load model from file")
      .def("get_num_inputs", &Module::GetInputNum)
      .def("get_num_outputs", &Module::GetOutputNum)
      .def("get_input_name", &Module::GetInputName)
      .def("get_output_name", &Module::GetOutputName)
      .def("get_input_info", &Module::GetInputInfo)
      .def("get_output_info", &Module::GetOutputInfo)
      .def("get_dev_input", &Module::GetDevInput)
      .def("get_dev_output", &Module::GetDevOutput)
      .def("set_input", &Module::SetInput)
      .def("set_output", &Module::SetOutput)
      .def("set_dev_input", &Module::SetDevInput)
      .def("set_dev_output", &Module::SetDevOutput)
      .def("get_output", &Module::GetOutput, py::arg("name"), py::arg("tensor"), "Get output from module")
      .def("run", &Module::Run)
      .def("sync", &Module::Sync)
      .def("set_stream", &Module::SetStream, py::arg("stream"))
      .def("get_model_version", &Module::GetModelVersion)
      .def("get_custom_msg", &Module::GetCustomMsg)
      .def("get_core_num", &Module::GetCoreNum, "Get the number of IPU cores")
      .def("get_backend_name", &Module::GetBackendName, "Get the backend name used for inference")
      .def("dump_inout", &Module::DumpInOut, py::arg("path"),
           "Dump all current input/output tensors to <path> as .npy files and generate a tester-compatible "
           "model.json in the same directory.")
      .def("load_dump_input", &Module::LoadDumpInput, py::arg("path"),
           "Load input tensors from a DumpInOut directory and feed them into the module. Tensors not recognised "
           "by the module produce a warning and are skipped.")
      .def_property_readonly("init_status", &Module::GetInitStatus);
}

}  // namespace vadu::python
