// CPU kernels behind the simulated image operations. They work on plain byte
// planes so that they can be checked without tensors; the operations validate
// every argument before calling them, so the kernels trust their inputs.
//
// Conventions (shared by every caller and by the tests that model them):
// - A semi-planar image is a luma plane of width x height one-byte samples and
//   a chroma plane of interleaved (U, V) pairs, subsampled by `x` horizontally
//   and `y` vertically: 2x2 for YUV420SP, 2x1 for YUV422SP, 1x1 for YUV444SP.
// - Resizing maps destination index d (0 <= d < out) to a source coordinate s
//   along each axis: with aligned corners s = d * (in - 1) / (out - 1) (0 when
//   out is 1); otherwise s = (d + 0.5) * in / out - 0.5 (pixel centres).
//   Nearest picks floor(s + 0.5) clamped to [0, in - 1]. Bilinear clamps s to
//   [0, in - 1], takes i0 = floor(s), i1 = min(i0 + 1, in - 1), f = s - i0,
//   blends the two rows' horizontal blends in double precision and rounds the
//   result half up. Luma and chroma planes are resized independently, each in
//   its own sample grid.
// - Chroma resampling between grids: every destination chroma sample covers a
//   block of luma pixels; it takes the rounded-half-up mean of the source
//   chroma samples covering that block. Upsampling therefore repeats samples
//   and downsampling averages them, and 420 -> 444 -> 420 is lossless.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vadu::ImageOps::kernels {

// Chroma subsampling factors of a semi-planar format.
struct Subsampling {
  int64_t x = 1;
  int64_t y = 1;
};

// A rectangle in a plane's own sample grid.
struct Region {
  int64_t x = 0;
  int64_t y = 0;
  int64_t w = 0;
  int64_t h = 0;
};

// A view of one plane: `width` x `height` samples of `channels` interleaved
// bytes each, rows `row_stride` bytes apart.
template <typename Byte>
struct BasicPlane {
  Byte* data = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t row_stride = 0;
  int channels = 1;

  Byte* Row(int64_t row) const { return data + row * row_stride; }

  // A writable plane can always be read.
  operator BasicPlane<const Byte>() const
    requires(!std::is_const_v<Byte>)
  {
    return {data, width, height, row_stride, channels};
  }
};
using Plane = BasicPlane<uint8_t>;
using ConstPlane = BasicPlane<const uint8_t>;

struct ResizeMethod {
  bool bilinear = true;
  bool align_corners = true;
};

// Sets every sample of `plane` to `components` (one byte per channel).
void FillPlane(const Plane& plane, const uint8_t* components);

// Resizes region `from` of `src` onto region `to` of `dst`; both planes have
// the same channel count and both regions are non-empty and inside their plane.
void ResizePlane(const ConstPlane& src, const Region& from, const Plane& dst, const Region& to,
                 ResizeMethod method);

// Resamples a chroma plane laid out for `src_sub` into one laid out for
// `dst_sub`; both describe the same luma size.
void ResampleChroma(const ConstPlane& src, Subsampling src_sub, const Plane& dst,
                    Subsampling dst_sub);

}  // namespace vadu::ImageOps::kernels
