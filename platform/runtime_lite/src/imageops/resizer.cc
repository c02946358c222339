#include "vadu/runtime/imageops/resizer.h"

#include <vector>

#include "imageops/image_kernels.h"
#include "imageops/yuv_image.h"

namespace vadu::ImageOps {
namespace {

// Where the crop comes from and where it goes, in luma pixels.
struct ResizeGeometry {
  kernels::Region from;
  kernels::Region to;
};

bool Divides(int64_t factor, int64_t value) { return value % factor == 0; }

// The geometry of one run, or nothing when the run option does not fit the
// two images.
std::optional<ResizeGeometry> PlanResize(const YuvImage& src, const YuvImage& dst,
                                         const Resizer::RunOption& option) {
  const kernels::Subsampling sub = src.sub;
  const kernels::Region from{option.crop.x, option.crop.y, option.crop.w, option.crop.h};
  if (from.x < 0 || from.y < 0 || from.w <= 0 || from.h <= 0 || from.x + from.w > src.width ||
      from.y + from.h > src.height) {
    return std::nullopt;
  }
  if (!Divides(sub.x, from.x) || !Divides(sub.x, from.w) || !Divides(sub.y, from.y) ||
      !Divides(sub.y, from.h)) {
    return std::nullopt;
  }
  const int64_t left = option.pad.left;
  const int64_t top = option.pad.top;
  const int64_t right = option.pad.right;
  const int64_t bottom = option.pad.bottom;
  if (left < 0 || top < 0 || right < 0 || bottom < 0) return std::nullopt;
  if (!Divides(sub.x, left) || !Divides(sub.x, right) || !Divides(sub.y, top) ||
      !Divides(sub.y, bottom)) {
    return std::nullopt;
  }
  const kernels::Region to{left, top, dst.width - left - right, dst.height - top - bottom};
  if (to.w <= 0 || to.h <= 0) return std::nullopt;
  return ResizeGeometry{from, to};
}

bool IsByte(int32_t value) { return value >= 0 && value <= 255; }

kernels::Region InChromaGrid(const kernels::Region& region, kernels::Subsampling sub) {
  return {region.x / sub.x, region.y / sub.y, region.w / sub.x, region.h / sub.y};
}

}  // namespace

Status Resizer::Init(const Option& option) {
  option_.reset();
  const Status status =
      CheckOperationOption(option.format, option.device_id, option.max_w, option.max_h);
  if (status == OK) option_ = option;
  return status;
}

Status Resizer::Run(const Tensor& src, Tensor& dst, const RunOption& option, bool sync) {
  if (!option_) return INVALID_ARGUMENT;
  const std::optional<YuvImage> in = ViewYuv(src);
  const std::optional<YuvImage> out = ViewYuv(dst);
  if (!in || !out || in->format != option_->format || out->format != option_->format) {
    return INVALID_ARGUMENT;
  }
  if (!FitsBounds(*in, option_->max_w, option_->max_h) ||
      !FitsBounds(*out, option_->max_w, option_->max_h)) {
    return UNSUPPORTED;
  }
  const std::optional<ResizeGeometry> geometry = PlanResize(*in, *out, option);
  const auto& pad_val = option.pad_val;
  if (!geometry || !IsByte(pad_val[0]) || !IsByte(pad_val[1]) || !IsByte(pad_val[2])) {
    return INVALID_ARGUMENT;
  }

  std::vector<uint8_t> copy;
  const YuvImage source = Overlaps(*in, *out) ? CopiedInto(*in, copy) : *in;
  const uint8_t luma_pad = static_cast<uint8_t>(pad_val[0]);
  const uint8_t chroma_pad[2] = {static_cast<uint8_t>(pad_val[1]),
                                 static_cast<uint8_t>(pad_val[2])};
  kernels::FillPlane(out->luma, &luma_pad);
  kernels::FillPlane(out->chroma, chroma_pad);

  const kernels::ResizeMethod method{option.interp_mode == Bilinear,
                                     option.align_mode == AlignCornerTrue};
  kernels::ResizePlane(source.luma, geometry->from, out->luma, geometry->to, method);
  kernels::ResizePlane(source.chroma, InChromaGrid(geometry->from, source.sub), out->chroma,
                       InChromaGrid(geometry->to, source.sub), method);
  RememberRun(src, dst);
  return sync ? Sync() : OK;
}

}  // namespace vadu::ImageOps
