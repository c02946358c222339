#include "imageops/image_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vadu::ImageOps::kernels {
namespace {

ConstPlane ViewOf(const std::vector<uint8_t>& bytes, int64_t w, int64_t h, int channels = 1) {
  return ConstPlane{bytes.data(), w, h, w * channels, channels};
}

Plane ViewOf(std::vector<uint8_t>& bytes, int64_t w, int64_t h, int channels = 1) {
  return Plane{bytes.data(), w, h, w * channels, channels};
}

std::vector<uint8_t> Resize1D(const std::vector<uint8_t>& row, int64_t out, ResizeMethod method) {
  const int64_t in = static_cast<int64_t>(row.size());
  std::vector<uint8_t> result(static_cast<size_t>(out));
  ResizePlane(ViewOf(row, in, 1), Region{0, 0, in, 1}, ViewOf(result, out, 1),
              Region{0, 0, out, 1}, method);
  return result;
}

TEST(ResizePlane, AxisMappingFollowsAlignMode) {
  const std::vector<uint8_t> ramp{0, 100};
  // Aligned corners keep both ends on the source's end pixels.
  EXPECT_EQ(Resize1D(ramp, 3, {.bilinear = true, .align_corners = true}),
            (std::vector<uint8_t>{0, 50, 100}));
  // Pixel centres: -0.25, 0.25, 0.75, 1.25, clamped at the edges.
  EXPECT_EQ(Resize1D(ramp, 4, {.bilinear = true, .align_corners = false}),
            (std::vector<uint8_t>{0, 25, 75, 100}));
  EXPECT_EQ(Resize1D(ramp, 4, {.bilinear = false, .align_corners = false}),
            (std::vector<uint8_t>{0, 0, 100, 100}));
  // 0, 1/3, 2/3, 1 rounded to the nearest source pixel.
  EXPECT_EQ(Resize1D(ramp, 4, {.bilinear = false, .align_corners = true}),
            (std::vector<uint8_t>{0, 0, 100, 100}));
  // One output pixel with aligned corners reads the first source pixel.
  EXPECT_EQ(Resize1D(ramp, 1, {.bilinear = true, .align_corners = true}),
            (std::vector<uint8_t>{0}));
  // Bilinear rounds half up: 1/2 between 0 and 1 is 0.5 -> 1.
  EXPECT_EQ(Resize1D({0, 1}, 3, {.bilinear = true, .align_corners = true}),
            (std::vector<uint8_t>{0, 1, 1}));
}

TEST(ResizePlane, ReadsOnlyTheCropAndWritesOnlyTheTargetRegion) {
  // Source 4x3 with two channels; the crop is its right 2x2 corner.
  std::vector<uint8_t> src(4 * 3 * 2, 0);
  auto at = [&](int64_t x, int64_t y, int k) -> uint8_t& { return src[(y * 4 + x) * 2 + k]; };
  for (int64_t y = 1; y < 3; ++y) {
    for (int64_t x = 2; x < 4; ++x) {
      at(x, y, 0) = 10;
      at(x, y, 1) = 200;
    }
  }
  // Destination rows are 5 samples long with a 3-byte gap after them.
  const int64_t stride = 5 * 2 + 3;
  std::vector<uint8_t> dst(static_cast<size_t>(stride * 4), 0xEE);
  Plane view{dst.data(), 5, 4, stride, 2};
  ResizePlane(ConstPlane{src.data(), 4, 3, 8, 2}, Region{2, 1, 2, 2}, view, Region{1, 1, 3, 2},
              {true, false});
  for (int64_t y = 0; y < 4; ++y) {
    for (int64_t b = 0; b < stride; ++b) {
      const uint8_t got = dst[static_cast<size_t>(y * stride + b)];
      const bool inside = y >= 1 && y < 3 && b >= 2 && b < 8;
      if (!inside) {
        EXPECT_EQ(got, 0xEE) << y << "," << b;
      } else {
        EXPECT_EQ(got, b % 2 == 0 ? 10 : 200) << y << "," << b;
      }
    }
  }
}

TEST(ResampleChroma, DownsamplingAveragesWithRoundingHalfUp) {
  // 444 chroma of a 2x2 image: four (U, V) pairs -> one 420 pair.
  const std::vector<uint8_t> full{1, 10, 2, 20, 2, 30, 2, 41};
  std::vector<uint8_t> quarter(2);
  ResampleChroma(ViewOf(full, 2, 2, 2), {1, 1}, ViewOf(quarter, 1, 1, 2), {2, 2});
  EXPECT_EQ(quarter, (std::vector<uint8_t>{2, 25}));  // 7/4 -> 2, 101/4 -> 25

  // 422 -> 420 averages the two rows only.
  const std::vector<uint8_t> half{0, 0, 100, 100,  //
                                  1, 255, 50, 100};
  std::vector<uint8_t> out(4);
  ResampleChroma(ViewOf(half, 2, 2, 2), {2, 1}, ViewOf(out, 2, 1, 2), {2, 2});
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 128, 75, 100}));
}

}  // namespace
}  // namespace vadu::ImageOps::kernels
