#include <array>

#include <pybind11/stl.h>

#include "array_conversion.h"
#include "bindings.h"
#include "vadu/runtime/tensor.h"

namespace vadu::python {
namespace {

std::array<vadu::Tensor, 2> SplitYUV(const vadu::Tensor& tensor) {
  std::array<vadu::Tensor, 2> planes;
  if (tensor.SplitYUV(planes[0], planes[1]) != vadu::OK) {
    throw py::value_error("Split yuv failed !");
  }
  return planes;
}

}  // namespace

void BindTensor(py::module_& m) {
  using vadu::Tensor;
  py::class_<Tensor>(m, "Tensor")
      .def(py::init<const vadu::TensorInfo&, const vadu::Buffer&>())
      .def_static("create_host_tensor",
                  [](const vadu::TensorInfo& info) {
                    return Tensor::CreateHostTensor(info, 0, nullptr);
                  })
      .def_static("create_device_tensor", &Tensor::CreateDeviceTensor)
      .def_static("tensor_to_array", &TensorToArray)
      .def_static("split_yuv", &SplitYUV)
      .def("astype", &Tensor::AsType)
      .def("copy_to", &Tensor::CopyTo)
      .def("cast_to", &Tensor::CastTo)
      .def("to_host", &Tensor::ToHost)
      .def("clone", &Tensor::Clone)
      .def("set_zero", &Tensor::SetZero)
      .def("buffer", &Tensor::Buffer)
      .def("select_batch", &Tensor::SelectBatch)
      .def("select_roi", &Tensor::SelectROI)
      .def("as_formular", &Tensor::AsFormular, "Return tensor with normalized TensorInfo")
      // The description lives inside the tensor: the returned object refers to
      // it and keeps the tensor alive.
      .def_property_readonly("info", &Tensor::Info)
      .def_property_readonly("device", &Tensor::Device)
      .def_property_readonly("device_id", &Tensor::DeviceId)
      .def_property_readonly("mem_size", &Tensor::MemSize)
      .def_property_readonly("init_status", &Tensor::GetInitStatus);
}

}  // namespace vadu::python
