#include "vadu/runtime/imageops/color_converter.h"

#include <algorithm>
#include <vector>

#include "imageops/image_kernels.h"
#include "imageops/yuv_image.h"

namespace vadu::ImageOps {

Status ColorConverter::Init(const Option& option) {
  option_.reset();
  const Status status =
      CheckOperationOption(option.fmt, option.device_id, option.max_w, option.max_h);
  if (status == OK) option_ = option;
  return status;
}

Status ColorConverter::Run(const Tensor& src, Tensor& dst, bool sync) {
  if (!option_) return INVALID_ARGUMENT;
  const std::optional<YuvImage> in = ViewYuv(src);
  const std::optional<YuvImage> out = ViewYuv(dst);
  if (!in || !out || out->format != option_->fmt || in->width != out->width ||
      in->height != out->height) {
    return INVALID_ARGUMENT;
  }
  if (!FitsBounds(*in, option_->max_w, option_->max_h)) return UNSUPPORTED;

  std::vector<uint8_t> copy;
  const YuvImage source = Overlaps(*in, *out) ? CopiedInto(*in, copy) : *in;
  std::copy_n(source.luma.data, source.width * source.height, out->luma.data);
  kernels::ResampleChroma(source.chroma, source.sub, out->chroma, out->sub);
  RememberRun(src, dst);
  return sync ? Sync() : OK;
}

}  // namespace vadu::ImageOps
