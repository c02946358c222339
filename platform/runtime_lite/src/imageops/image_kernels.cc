#include "imageops/image_kernels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vadu::ImageOps::kernels {
namespace {

// Where one destination index reads from along one axis.
struct Tap {
  int64_t i0 = 0;
  int64_t i1 = 0;
  double f = 0.0;
};

double SourceCoordinate(int64_t d, int64_t in, int64_t out, bool align_corners) {
  if (align_corners) {
    return out > 1 ? static_cast<double>(d) * static_cast<double>(in - 1) /
                         static_cast<double>(out - 1)
                   : 0.0;
  }
  return (static_cast<double>(d) + 0.5) * static_cast<double>(in) / static_cast<double>(out) -
         0.5;
}

std::vector<Tap> AxisTaps(int64_t in, int64_t out, ResizeMethod method) {
  std::vector<Tap> taps(static_cast<size_t>(out));
  const double last = static_cast<double>(in - 1);
  for (int64_t d = 0; d < out; ++d) {
    const double s = SourceCoordinate(d, in, out, method.align_corners);
    Tap& tap = taps[static_cast<size_t>(d)];
    if (!method.bilinear) {
      tap.i0 = std::clamp<int64_t>(static_cast<int64_t>(std::floor(s + 0.5)), 0, in - 1);
      tap.i1 = tap.i0;
      continue;
    }
    const double clamped = std::clamp(s, 0.0, last);
    tap.i0 = static_cast<int64_t>(std::floor(clamped));
    tap.i1 = std::min(tap.i0 + 1, in - 1);
    tap.f = clamped - static_cast<double>(tap.i0);
  }
  return taps;
}

uint8_t RoundToByte(double v) {
  return static_cast<uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
}

}  // namespace

void FillPlane(const Plane& plane, const uint8_t* components) {
  for (int64_t r = 0; r < plane.height; ++r) {
    uint8_t* row = plane.Row(r);
    for (int64_t c = 0; c < plane.width; ++c) {
      std::copy_n(components, plane.channels, row + c * plane.channels);
    }
  }
}

void ResizePlane(const ConstPlane& src, const Region& from, const Plane& dst, const Region& to,
                 ResizeMethod method) {
  const std::vector<Tap> cols = AxisTaps(from.w, to.w, method);
  const std::vector<Tap> rows = AxisTaps(from.h, to.h, method);
  const int ch = dst.channels;
  for (int64_t dy = 0; dy < to.h; ++dy) {
    const Tap& ty = rows[static_cast<size_t>(dy)];
    const uint8_t* row0 = src.Row(from.y + ty.i0) + from.x * ch;
    const uint8_t* row1 = src.Row(from.y + ty.i1) + from.x * ch;
    uint8_t* out = dst.Row(to.y + dy) + to.x * ch;
    for (int64_t dx = 0; dx < to.w; ++dx) {
      const Tap& tx = cols[static_cast<size_t>(dx)];
      for (int k = 0; k < ch; ++k) {
        const double p00 = row0[tx.i0 * ch + k];
        const double p01 = row0[tx.i1 * ch + k];
        const double p10 = row1[tx.i0 * ch + k];
        const double p11 = row1[tx.i1 * ch + k];
        const double top = p00 * (1.0 - tx.f) + p01 * tx.f;
        const double bottom = p10 * (1.0 - tx.f) + p11 * tx.f;
        out[dx * ch + k] = RoundToByte(top * (1.0 - ty.f) + bottom * ty.f);
      }
    }
  }
}

void ResampleChroma(const ConstPlane& src, Subsampling src_sub, const Plane& dst,
                    Subsampling dst_sub) {
  for (int64_t cy = 0; cy < dst.height; ++cy) {
    const int64_t y0 = cy * dst_sub.y / src_sub.y;
    const int64_t y1 = std::min(((cy + 1) * dst_sub.y - 1) / src_sub.y, src.height - 1);
    uint8_t* out = dst.Row(cy);
    for (int64_t cx = 0; cx < dst.width; ++cx) {
      const int64_t x0 = cx * dst_sub.x / src_sub.x;
      const int64_t x1 = std::min(((cx + 1) * dst_sub.x - 1) / src_sub.x, src.width - 1);
      const int64_t count = (y1 - y0 + 1) * (x1 - x0 + 1);
      for (int k = 0; k < 2; ++k) {
        int64_t sum = 0;
        for (int64_t sy = y0; sy <= y1; ++sy) {
          for (int64_t sx = x0; sx <= x1; ++sx) sum += src.Row(sy)[sx * 2 + k];
        }
        out[cx * 2 + k] = static_cast<uint8_t>((sum + count / 2) / count);
      }
    }
  }
}

}  // namespace vadu::ImageOps::kernels
