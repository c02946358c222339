// Tensors of the semi-planar YUV formats seen as the kernels' two planes, and
// the checks both image operations share.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "imageops/image_kernels.h"
#include "vadu/runtime/enums.h"
#include "vadu/runtime/tensor.h"

namespace vadu::ImageOps {

// Chroma subsampling of a YUV format; nothing for any other format.
std::optional<kernels::Subsampling> SubsamplingOf(DataFmt fmt);

struct YuvImage {
  DataFmt format = YUV420SP;
  int64_t width = 0;
  int64_t height = 0;
  kernels::Subsampling sub;
  kernels::Plane luma;
  kernels::Plane chroma;
  // All bytes of both planes.
  uint8_t* data = nullptr;
  uint64_t size = 0;
};

// The planes of a usable YUV tensor whose memory holds both of them; nothing
// for any other tensor.
std::optional<YuvImage> ViewYuv(const Tensor& tensor);

// Whether the two images share any byte.
bool Overlaps(const YuvImage& a, const YuvImage& b);

// The same image over a copy of its bytes held in storage.
YuvImage CopiedInto(const YuvImage& image, std::vector<uint8_t>& storage);

// Init checks of both operations: UNSUPPORTED for a non-YUV format,
// INVALID_ARGUMENT for a non-positive size bound or a device the default
// backend does not have.
Status CheckOperationOption(DataFmt fmt, int64_t device_id, int64_t max_w, int64_t max_h);

// Whether the image fits the bounds given at Init.
bool FitsBounds(const YuvImage& image, int64_t max_w, int64_t max_h);

}  // namespace vadu::ImageOps
