#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "vadu/runtime/image_ops.h"
#include "vadu/runtime/tensor.h"
#include "vadu/runtime/tensor_info.h"

namespace vadu::ImageOps {
namespace {

Tensor YuvTensor(int64_t height, int64_t width, DataFmt fmt, uint8_t fill = 0) {
  Tensor tensor = Tensor::CreateHostTensor(TensorInfo::CreateYUVInfo(height, width, 0, fmt));
  EXPECT_EQ(tensor.GetInitStatus(), OK);
  std::memset(tensor.Buffer().Data(), fill, tensor.Buffer().Size());
  return tensor;
}

std::vector<uint8_t> Bytes(const Tensor& tensor) {
  const auto* data = static_cast<const uint8_t*>(tensor.Buffer().Data());
  return {data, data + tensor.Buffer().Size()};
}

uint8_t* Data(const Tensor& tensor) { return static_cast<uint8_t*>(tensor.Buffer().Data()); }

Resizer::RunOption CropOf(RectRoi crop) {
  Resizer::RunOption option;
  option.crop = crop;
  return option;
}

Resizer ReadyResizer(DataFmt fmt, int64_t max_w = 1920, int64_t max_h = 1080) {
  Resizer resizer;
  Resizer::Option option;
  option.format = fmt;
  option.SetMaxSize(max_w, max_h);
  EXPECT_EQ(resizer.Init(option), OK);
  return resizer;
}

TEST(ResizerInit, RefusesWhatItCannotServe) {
  Resizer resizer;
  Resizer::Option option;
  option.format = ND;
  EXPECT_EQ(resizer.Init(option), UNSUPPORTED);
  option.format = YUV420SP;
  EXPECT_EQ(resizer.Init(Resizer::Option(option).SetMaxSize(0, 1080)), INVALID_ARGUMENT);
  Resizer::Option far = option;
  far.device_id = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(resizer.Init(far), INVALID_ARGUMENT);
  far.device_id = -1;
  EXPECT_EQ(resizer.Init(far), INVALID_ARGUMENT);
  EXPECT_EQ(resizer.Init(option), OK);

  // A failed Init undoes an earlier good one.
  Tensor src = YuvTensor(4, 4, YUV420SP, 7);
  Tensor dst = YuvTensor(4, 4, YUV420SP, 9);
  Resizer::RunOption run = CropOf({0, 0, 4, 4});
  EXPECT_EQ(resizer.Run(src, dst, run, true), OK);
  option.format = ND;
  EXPECT_EQ(resizer.Init(option), UNSUPPORTED);
  EXPECT_EQ(resizer.Run(src, dst, run, true), INVALID_ARGUMENT);
}

TEST(ResizerRun, RefusedRunsLeaveTheDestinationAlone) {
  Tensor src = YuvTensor(8, 8, YUV420SP, 50);
  Tensor dst = YuvTensor(4, 6, YUV420SP, 0xEE);
  const std::vector<uint8_t> before = Bytes(dst);
  const Resizer::RunOption good = CropOf({0, 0, 8, 8});

  Resizer unconfigured;
  EXPECT_EQ(unconfigured.Run(src, dst, good, false), INVALID_ARGUMENT);

  Resizer resizer = ReadyResizer(YUV420SP);
  struct Case {
    const char* what;
    Resizer::RunOption option;
  };
  const int32_t big = std::numeric_limits<int32_t>::max();
  const std::vector<Case> cases{
      {"crop past the right edge", CropOf({2, 0, 8, 8})},
      {"crop wraps in 32 bits", CropOf({big - 1, 0, 4, 4})},
      {"negative crop origin", CropOf({-2, 0, 4, 4})},
      {"empty crop", CropOf({0, 0, 0, 8})},
      {"odd crop origin splits chroma", CropOf({1, 0, 4, 4})},
      {"odd crop height splits chroma", CropOf({0, 0, 4, 3})},
      {"negative padding", CropOf({0, 0, 8, 8}).SetPad({-2, 0, 0, 0})},
      {"odd padding splits chroma", CropOf({0, 0, 8, 8}).SetPad({0, 1, 0, 1})},
      {"padding leaves no inner rectangle", CropOf({0, 0, 8, 8}).SetPad({2, 0, 4, 0})},
      {"huge padding", CropOf({0, 0, 8, 8}).SetPad({big - 1, 0, big - 1, 0})},
      {"pad value above a byte", CropOf({0, 0, 8, 8}).SetPadVal({0, 256, 128})},
      {"negative pad value", CropOf({0, 0, 8, 8}).SetPadVal({-1, 128, 128})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resizer.Run(src, dst, c.option, false), INVALID_ARGUMENT) << c.what;
    EXPECT_EQ(Bytes(dst), before) << c.what;
  }

  Tensor other_format = YuvTensor(4, 6, YUV444SP);
  EXPECT_EQ(resizer.Run(src, other_format, good, false), INVALID_ARGUMENT);
  Tensor empty;
  EXPECT_EQ(resizer.Run(src, empty, good, false), INVALID_ARGUMENT);
  Tensor nd = Tensor::CreateHostTensor(TensorInfo::CreateNDInfo({4, 6}, UINT8));
  EXPECT_EQ(resizer.Run(nd, dst, good, false), INVALID_ARGUMENT);

  Resizer small = ReadyResizer(YUV420SP, 6, 8);
  EXPECT_EQ(small.Run(src, dst, good, false), UNSUPPORTED);  // src is 8 wide
  EXPECT_EQ(Bytes(dst), before);
}

TEST(ResizerRun, SharedMemoryReadsTheSourceAsItWas) {
  // Stretch the left half of an image over the whole of the same image.
  Tensor image = YuvTensor(2, 8, YUV444SP);
  Tensor reference_src = YuvTensor(2, 8, YUV444SP);
  Tensor reference_dst = YuvTensor(2, 8, YUV444SP);
  for (int i = 0; i < 2 * 8 * 3; ++i) {
    Data(image)[i] = Data(reference_src)[i] = static_cast<uint8_t>(i * 5);
  }
  Resizer resizer = ReadyResizer(YUV444SP);
  const Resizer::RunOption option = CropOf({0, 0, 4, 2});
  ASSERT_EQ(resizer.Run(reference_src, reference_dst, option, false), OK);
  ASSERT_EQ(resizer.Run(image, image, option, false), OK);
  EXPECT_EQ(Bytes(image), Bytes(reference_dst));
}

TEST(ColorConverterRun, ChecksFormatsSizesAndBounds) {
  ColorConverter converter;
  ColorConverter::Option option;
  Tensor src = YuvTensor(4, 4, YUV420SP, 3);
  Tensor dst = YuvTensor(4, 4, YUV444SP, 0xEE);
  const std::vector<uint8_t> before = Bytes(dst);
  EXPECT_EQ(converter.Run(src, dst, false), INVALID_ARGUMENT);  // no Init yet

  option.fmt = ND;
  EXPECT_EQ(converter.Init(option), UNSUPPORTED);
  option.fmt = YUV444SP;
  ASSERT_EQ(converter.Init(option), OK);
  Tensor wrong_format = YuvTensor(4, 4, YUV422SP);
  EXPECT_EQ(converter.Run(src, wrong_format, false), INVALID_ARGUMENT);
  Tensor wrong_size = YuvTensor(4, 6, YUV444SP);
  EXPECT_EQ(converter.Run(src, wrong_size, false), INVALID_ARGUMENT);
  ASSERT_EQ(converter.Init(option.SetMaxSize(2, 4)), OK);
  EXPECT_EQ(converter.Run(src, dst, false), UNSUPPORTED);
  EXPECT_EQ(Bytes(dst), before);
}

}  // namespace
}  // namespace vadu::ImageOps
