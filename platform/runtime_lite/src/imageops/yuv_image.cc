#include "imageops/yuv_image.h"

#include <algorithm>
#include <limits>

#include "byte_range.h"
#include "sim_devices.h"

namespace vadu::ImageOps {
namespace {

YuvImage ImageOver(uint8_t* data, DataFmt format, int64_t width, int64_t height,
                   kernels::Subsampling sub) {
  YuvImage image;
  image.format = format;
  image.width = width;
  image.height = height;
  image.sub = sub;
  image.luma = kernels::Plane{data, width, height, width, 1};
  const int64_t chroma_w = width / sub.x;
  const int64_t chroma_h = height / sub.y;
  image.chroma = kernels::Plane{data + width * height, chroma_w, chroma_h, chroma_w * 2, 2};
  image.data = data;
  image.size = static_cast<uint64_t>(width * height + chroma_w * chroma_h * 2);
  return image;
}

}  // namespace

std::optional<kernels::Subsampling> SubsamplingOf(DataFmt fmt) {
  switch (fmt) {
    case YUV420SP:
      return kernels::Subsampling{2, 2};
    case YUV422SP:
      return kernels::Subsampling{2, 1};
    case YUV444SP:
      return kernels::Subsampling{1, 1};
    default:
      return std::nullopt;
  }
}

std::optional<YuvImage> ViewYuv(const Tensor& tensor) {
  if (tensor.GetInitStatus() != OK) return std::nullopt;
  const TensorInfo& info = tensor.Info();
  const std::optional<kernels::Subsampling> sub = SubsamplingOf(info.Format());
  const std::vector<int64_t>& shape = info.Shape();
  if (!sub || shape.size() != 2) return std::nullopt;
  const int64_t height = shape[0];
  const int64_t width = shape[1];
  if (height <= 0 || width <= 0 || height % sub->y != 0 || width % sub->x != 0) {
    return std::nullopt;
  }
  // The description guarantees these sizes fit in memory; re-check anyway
  // before any pointer is formed.
  void* data = tensor.Buffer().Data();
  if (data == nullptr) return std::nullopt;
  YuvImage image = ImageOver(static_cast<uint8_t*>(data), info.Format(), width, height, *sub);
  if (image.size > tensor.Buffer().Size() || image.size > info.MemSize()) return std::nullopt;
  return image;
}

bool Overlaps(const YuvImage& a, const YuvImage& b) {
  return sim::RangesOverlap(a.data, a.size, b.data, b.size);
}

YuvImage CopiedInto(const YuvImage& image, std::vector<uint8_t>& storage) {
  storage.assign(image.data, image.data + image.size);
  return ImageOver(storage.data(), image.format, image.width, image.height, image.sub);
}

Status CheckOperationOption(DataFmt fmt, int64_t device_id, int64_t max_w, int64_t max_h) {
  if (!SubsamplingOf(fmt)) return UNSUPPORTED;
  if (max_w <= 0 || max_h <= 0) return INVALID_ARGUMENT;
  if (device_id < 0 || device_id > std::numeric_limits<int32_t>::max()) return INVALID_ARGUMENT;
  return sim::CheckDevice("", static_cast<int32_t>(device_id)) == OK ? OK : INVALID_ARGUMENT;
}

bool FitsBounds(const YuvImage& image, int64_t max_w, int64_t max_h) {
  return image.width <= max_w && image.height <= max_h;
}

}  // namespace vadu::ImageOps
