// Conversion between the semi-planar YUV formats (YUV420SP, YUV422SP,
// YUV444SP; see tensor_info.h for their memory layout), on the host.
//
// Run(src, dst, sync) converts src, of any of the three formats, into dst,
// whose format must be the option's fmt and whose height and width must be
// src's. The Y plane is copied. Each chroma sample of dst covers a block of
// luma pixels and takes the mean, rounded half up, of the src chroma samples
// that cover that block: upsampling repeats samples, downsampling averages
// them, so 420 -> 444 -> 420 gives the image back unchanged.
//
// Status of Run, checked before anything is written: INVALID_ARGUMENT without
// a successful Init, for a src or dst that is not usable or not YUV, for a dst
// whose format is not fmt, and for sizes that differ; UNSUPPORTED when src is
// wider than max_w or higher than max_h. src and dst may share memory: the
// source is then read from a copy.
//
// The sync flag asks Run to wait for the operation's stream before it returns;
// the simulator finishes the work within the call either way.
#pragma once

#include <cstdint>
#include <optional>

#include "vadu/runtime/enums.h"
#include "vadu/runtime/imageops/image_operator.h"
#include "vadu/runtime/tensor.h"

namespace vadu::ImageOps {

class ColorConverter : public ImageOperator {
 public:
  struct Option {
    // The format Run produces.
    DataFmt fmt = YUV422SP;
    int64_t device_id = 0;
    int64_t max_w = 1920;
    int64_t max_h = 1080;

    Option& SetMaxSize(int64_t width, int64_t height) {
      max_w = width;
      max_h = height;
      return *this;
    }
  };

  ColorConverter() = default;

  // UNSUPPORTED for a fmt other than the three YUV ones; INVALID_ARGUMENT for a
  // non-positive max_w or max_h or a device_id that is not a device of the
  // default backend. A failed Init leaves the converter unconfigured.
  virtual Status Init(const Option& option);
  Status Run(const Tensor& src, Tensor& dst, bool sync);

 private:
  std::optional<Option> option_;
};

}  // namespace vadu::ImageOps
