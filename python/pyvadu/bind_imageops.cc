// The classes of the imageops submodule.
#include "bindings.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>

#include "vadu/runtime/image_ops.h"
#include "vadu/runtime/stream.h"
#include "vadu/runtime/tensor.h"


namespace vadu::python {
namespace {

using ImageOps::ColorConverter;
using ImageOps::Config;
using ImageOps::RectPad;
using ImageOps::RectRoi;
using ImageOps::Resizer;

// The rectangle constructors take any 64-bit value and keep its low 32 bits.
int32_t Low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

void BindConfig(py::module_& m) {
  // The singleton belongs to the library: Python only ever refers to it.
  constexpr auto kRef = py::return_value_policy::reference;
  py::class_<Config>(m, "Config")
      .def_static("Global", &Config::Global, kRef)
      .def("set_dir_path", &Config::SetDirPath, kRef)
      .def("set_env_name", &Config::SetEnvName, kRef)
      .def("get_dir_path", &Config::GetDirPath);
}

void BindRectangles(py::module_& m) {
  py::class_<RectPad>(m, "RectPad")
      .def(py::init([](int64_t left, int64_t top, int64_t right, int64_t bottom) {
        return RectPad{Low32(left), Low32(top), Low32(right), Low32(bottom)};
      }))
      .def_readwrite("left", &RectPad::left)
      .def_readwrite("top", &RectPad::top)
      .def_readwrite("right", &RectPad::right)
      .def_readwrite("bottom", &RectPad::bottom);

  py::class_<RectRoi>(m, "RectRoi")
      .def(py::init([](int64_t x, int64_t y, int64_t w, int64_t h) {
        return RectRoi{Low32(x), Low32(y), Low32(w), Low32(h)};
      }))
      .def_readwrite("x", &RectRoi::x)
      .def_readwrite("y", &RectRoi::y)
      .def_readwrite("w", &RectRoi::w)
      .def_readwrite("h", &RectRoi::h);
}

void BindResizerEnums(py::module_& m) {
  py::enum_<Resizer::EnInterpMode>(m, "EnInterpMode")
      .value("Nearest", Resizer::Nearest)
      .value("Bilinear", Resizer::Bilinear)
      .export_values();
  py::enum_<Resizer::EnAlignMode>(m, "EnAlignMode")
      .value("AlignCornerTrue", Resizer::AlignCornerTrue)
      .value("AlignCornerFalse", Resizer::AlignCornerFalse)
      .export_values();
}

// A fluent setter returns the record it was called on; that record's Python
// object is found and returned, and the policy only matters if it were not.
constexpr auto kSelf = py::return_value_policy::reference_internal;

void BindResizerOptions(py::module_& m) {
  using Option = Resizer::Option;
  py::class_<Option>(m, "ResizerOption")
      .def(py::init([](DataFmt fmt, int32_t dev_id) {
             Option option;
             option.format = fmt;
             option.max_w = 1920;
             option.max_h = 1080;
             option.device_id = dev_id;
             return option;
           }),
           py::arg("fmt") = YUV422SP, py::arg("dev_id") = 0)
      .def("set_max_size", &Option::SetMaxSize, kSelf)
      .def_readwrite("format", &Option::format)
      .def_readwrite("max_w", &Option::max_w)
      .def_readwrite("max_h", &Option::max_h)
      .def_readwrite("device_id", &Option::device_id);

  using RunOption = Resizer::RunOption;
  py::class_<RunOption>(m, "ResizerRunOption")
      .def(py::init([](const RectRoi& roi, const RectPad& pad, Resizer::EnInterpMode interp_mode,
                       Resizer::EnAlignMode align_mode) {
             RunOption option;
             option.crop = roi;
             option.pad = pad;
             option.interp_mode = interp_mode;
             option.align_mode = align_mode;
             option.pad_val = {0, 128, 128};
             return option;
           }),
           py::arg("roi"), py::arg_v("pad", RectPad{0, 0, 0, 0}, "RectPad(0, 0, 0, 0)"),
           py::arg("interp_mode") = Resizer::Bilinear,
           py::arg("align_mode") = Resizer::AlignCornerTrue)
      .def("set_crop", &RunOption::SetCrop, kSelf)
      .def("set_pad", &RunOption::SetPad, kSelf)
      .def("set_pad_val", &RunOption::SetPadVal, kSelf)
      .def_readwrite("crop", &RunOption::crop)
      .def_readwrite("pad", &RunOption::pad)
      .def_readwrite("interp_mode", &RunOption::interp_mode)
      .def_readwrite("align_mode", &RunOption::align_mode)
      .def_readwrite("pad_val", &RunOption::pad_val);
}

// The operations shared by both image operations. The stream and tensors they
// hand out stay owned by the operation and live inside it, so each returned
// object keeps the operation alive for as long as it is used.
template <typename Operation>
void BindSharedOperations(py::class_<Operation>& cls) {
  constexpr auto kMember = py::return_value_policy::reference_internal;
  cls.def("set_stream", &Operation::SetStream)
      .def("get_stream", &Operation::GetStream, kMember)
      .def("sync", &Operation::Sync)
      .def("get_input_num", &Operation::GetInputNum)
      .def("get_output_num", &Operation::GetOutputNum)
      .def("get_input_tensor", &Operation::GetInputTensor, kMember)
      .def("get_output_tensor", &Operation::GetOutputTensor, kMember);
}

void BindResizer(py::module_& m) {
  py::class_<Resizer> cls(m, "Resizer");
  cls.def(py::init<>()).def("init", &Resizer::Init).def("run", &Resizer::Run);
  BindSharedOperations(cls);
}

void BindColorConverter(py::module_& m) {
  using Option = ColorConverter::Option;
  py::class_<Option>(m, "ColorConverterOption")
      .def(py::init([](DataFmt fmt, int32_t dev_id) {
             Option option;
             option.fmt = fmt;
             option.device_id = dev_id;
             option.max_w = 1920;
             option.max_h = 1080;
             return option;
           }),
           py::arg("fmt") = YUV422SP, py::arg("dev_id") = 0)
      .def("set_max_size", &Option::SetMaxSize, kSelf)
      .def_readwrite("fmt", &Option::fmt)
      .def_readwrite("device_id", &Option::device_id)
      .def_readwrite("max_w", &Option::max_w)
      .def_readwrite("max_h", &Option::max_h);

  py::class_<ColorConverter> cls(m, "ColorConverter");
  // Init is virtual here: a library subclass's own Init runs.
  cls.def(py::init<>()).def("init", &ColorConverter::Init).def("run", &ColorConverter::Run);
  BindSharedOperations(cls);
}

}  // namespace

void BindImageOps(py::module_& imageops) {
  BindConfig(imageops);
  BindRectangles(imageops);
  BindResizerEnums(imageops);
  BindResizerOptions(imageops);
  BindResizer(imageops);
  BindColorConverter(imageops);
}

}  // namespace vadu::python
