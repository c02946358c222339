#include <pybind11/stl.h>

#include "array_conversion.h"
#include "bindings.h"
#include "vadu/runtime/tensor_info.h"

namespace vadu::python {

void BindTensorInfo(py::module_& m) {
  using vadu::TensorInfo;
  py::class_<TensorInfo>(m, "TensorInfo")
      .def(py::init<>())
      .def("is_contiguous", &TensorInfo::IsContiguous)
      .def("ascontiguous", &TensorInfo::AsContiguous)
      .def("astype", &TensorInfo::AsType)
      .def_static("create_nd", &TensorInfo::CreateNDInfo)
      .def_static("create_yuv", &TensorInfo::CreateYUVInfo)
      .def_static("merge_yuv", &TensorInfo::MergeYUV)
      .def_static("gen_array_ref", &TensorToArray)
      .def("is_match", &TensorInfo::IsMatch, "Check if tensors match for mutual copying",
           py::arg("other"))
      .def("clone", &TensorInfo::Clone, "Clone TensorInfo")
      .def("as_formular", &TensorInfo::AsFormular,
           "Normalized TensorInfo (Rank0->Rank1[1], populate strides)")
      .def_property_readonly("mem_size", &TensorInfo::MemSize)
      .def_property_readonly("shape", &TensorInfo::Shape)
      .def_property_readonly("stride", &TensorInfo::Stride)
      .def_property_readonly("dtype", &TensorInfo::DataType)
      .def_property_readonly("dtype_size", py::overload_cast<>(&TensorInfo::DataTypeSize, py::const_))
      .def_property_readonly("span_size", &TensorInfo::SpanSize)
      .def_property_readonly("format", &TensorInfo::Format)
      .def_property_readonly("init_status", &TensorInfo::GetInitStatus);
}

}  // namespace vadu::python
