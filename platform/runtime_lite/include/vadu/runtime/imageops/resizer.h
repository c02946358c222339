// Crop, resize and pad of semi-planar YUV images (YUV420SP, YUV422SP,
// YUV444SP; see tensor_info.h for their memory layout), on the host.
//
// Run(src, dst, option, sync):
// 1. Takes the rectangle option.crop of src (luma pixels).
// 2. Fills all of dst with option.pad_val (Y, U, V), then resizes the crop into
//    the inner rectangle of dst that option.pad leaves: from (left, top) to
//    (width - right, height - bottom).
// 3. Resizes luma and chroma planes independently, each in its own sample
//    grid, by nearest or bilinear interpolation with the coordinate mapping of
//    option.align_mode (exact formulas and rounding in
//    src/imageops/image_kernels.h of the library sources): with AlignCornerTrue destination index d
//    reads source coordinate d * (in - 1) / (out - 1); with AlignCornerFalse it
//    reads (d + 0.5) * in / out - 0.5. Nearest rounds the coordinate half up;
//    bilinear clamps it to the image, blends in double precision and rounds
//    the result half up.
//
// Status of Run, checked before anything is written:
// - INVALID_ARGUMENT: no successful Init; src or dst not usable, or not of the
//   format of the option; crop not inside src or empty; negative padding, or
//   padding that leaves no inner rectangle; a pad_val outside 0..255; a crop or
//   padding edge that splits a chroma sample (odd x, width or left/right
//   padding for 420 and 422; odd y, height or top/bottom padding for 420).
// - UNSUPPORTED: src or dst wider than max_w or higher than max_h.
// src and dst may share memory: the source is then read from a copy.
//
// The sync flag asks Run to wait for the operation's stream before it returns;
// the simulator finishes the work within the call either way.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "vadu/runtime/enums.h"
#include "vadu/runtime/imageops/image_operator.h"
#include "vadu/runtime/imageops/rect.h"
#include "vadu/runtime/tensor.h"

namespace vadu::ImageOps {

class Resizer : public ImageOperator {
 public:
  enum EnInterpMode : int32_t {
    Nearest = 0,
    Bilinear = 1,
  };

  enum EnAlignMode : int32_t {
    AlignCornerFalse = 0,
    AlignCornerTrue = 1,
  };

  struct Option {
    DataFmt format = YUV422SP;
    int64_t max_w = 1920;
    int64_t max_h = 1080;
    int64_t device_id = 0;

    Option& SetMaxSize(int64_t width, int64_t height) {
      max_w = width;
      max_h = height;
      return *this;
    }
  };

  struct RunOption {
    RectRoi crop;
    RectPad pad;
    EnInterpMode interp_mode = Bilinear;
    EnAlignMode align_mode = AlignCornerTrue;
    // Y, U and V of the padding.
    std::array<int32_t, 3> pad_val{0, 128, 128};

    RunOption& SetCrop(const RectRoi& roi) {
      crop = roi;
      return *this;
    }
    RunOption& SetPad(const RectPad& padding) {
      pad = padding;
      return *this;
    }
    RunOption& SetPadVal(const std::array<int32_t, 3>& values) {
      pad_val = values;
      return *this;
    }
  };

  Resizer() = default;

  // UNSUPPORTED for a format other than the three YUV ones; INVALID_ARGUMENT
  // for a non-positive max_w or max_h or a device_id that is not a device of
  // the default backend. A failed Init leaves the resizer unconfigured.
  Status Init(const Option& option);
  Status Run(const Tensor& src, Tensor& dst, const RunOption& option, bool sync);

 private:
  std::optional<Option> option_;
};

}  // namespace vadu::ImageOps
