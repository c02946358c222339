#include "vadu/runtime/tensor_info.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace vadu {
namespace {

using Dims = std::vector<int64_t>;

TEST(TensorInfo, NDSizesFollowShapeStridesAndAlignment) {
  const TensorInfo dense = TensorInfo::CreateNDInfo({2, 3, 4}, FLOAT32);
  ASSERT_EQ(dense.GetInitStatus(), OK);
  EXPECT_EQ(dense.MemSize(), 96u);
  EXPECT_EQ(dense.SpanSize(), 0u);
  EXPECT_EQ(dense.DataTypeSize(), 4u);
  EXPECT_TRUE(dense.Stride().empty());
  EXPECT_EQ(dense.EffectiveStrides(), (Dims{48, 16, 4}));
  EXPECT_TRUE(dense.IsContiguous());

  // Rows of 3 int16 with 8-byte pitch: the last row ends after 6 bytes.
  const TensorInfo pitched = TensorInfo::CreateNDInfo({2, 3}, INT16, {8, 2});
  EXPECT_EQ(pitched.MemSize(), 14u);
  EXPECT_FALSE(pitched.IsContiguous());
  EXPECT_TRUE(TensorInfo::CreateNDInfo({2, 3}, INT16, {6, 2}).IsContiguous());
  EXPECT_TRUE(TensorInfo::CreateNDInfo({1, 3}, INT16, {100, 2}).IsContiguous());

  const TensorInfo aligned = TensorInfo::CreateNDInfo({3}, UINT8, {}, 8);
  EXPECT_EQ(aligned.MemSize(), 8u);
  EXPECT_EQ(aligned.SpanSize(), 5u);

  const TensorInfo scalar = TensorInfo::CreateNDInfo({}, FLOAT16);
  EXPECT_EQ(scalar.MemSize(), 2u);
  EXPECT_EQ(TensorInfo::CreateNDInfo({4, 0, 2}, INT32).MemSize(), 0u);
}

TEST(TensorInfo, RefusesDescriptionsItCannotSize) {
  const std::vector<TensorInfo> refused = {
      TensorInfo::CreateNDInfo({-1}, UINT8),
      TensorInfo::CreateNDInfo({2, 2}, UINT8, {2}),
      TensorInfo::CreateNDInfo({2}, UINT8, {-1}),
      TensorInfo::CreateNDInfo({}, UINT8, {1}),
      TensorInfo::CreateNDInfo({2}, static_cast<DataType>(9)),
      TensorInfo::CreateNDInfo({INT64_MAX, 2}, UINT8),
      TensorInfo::CreateNDInfo({0, INT64_MAX, 4}, UINT8),  // no elements, but strides overflow
      TensorInfo::CreateNDInfo({3}, UINT8, {INT64_MAX}),
      TensorInfo::CreateNDInfo({1}, UINT8, {}, UINT64_MAX),
      TensorInfo::CreateYUVInfo(4, 4, 0, ND),
      TensorInfo::CreateYUVInfo(3, 4, 0, YUV420SP),
      TensorInfo::CreateYUVInfo(4, 3, 0, YUV420SP),
      TensorInfo::CreateYUVInfo(3, 3, 0, YUV422SP),
      TensorInfo::CreateYUVInfo(-2, 4, 0, YUV444SP),
      TensorInfo::CreateYUVInfo(2, 4, -1, YUV444SP),
      TensorInfo::CreateYUVInfo(INT64_MAX / 2, 4, 0, YUV444SP),
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(refused[i].GetInitStatus(), INVALID_ARGUMENT) << i;
    EXPECT_EQ(refused[i].MemSize(), 0u) << i;
  }
  EXPECT_EQ(TensorInfo::CreateYUVInfo(3, 4, 0, YUV422SP).GetInitStatus(), OK);
  EXPECT_EQ(TensorInfo::CreateYUVInfo(3, 3, 0, YUV444SP).GetInitStatus(), OK);
}

TEST(TensorInfo, YUVPlanesAndSpan) {
  struct Case {
    DataFmt format;
    uint64_t extent;
  };
  // 4 rows of 6: a 24-byte Y plane, then the UV plane.
  for (const Case& c : {Case{YUV420SP, 36}, Case{YUV422SP, 48}, Case{YUV444SP, 72}}) {
    const TensorInfo info = TensorInfo::CreateYUVInfo(4, 6, 0, c.format);
    ASSERT_EQ(info.GetInitStatus(), OK);
    EXPECT_EQ(info.Shape(), (Dims{4, 6}));
    EXPECT_EQ(info.DataType(), UINT8);
    EXPECT_EQ(info.MemSize(), c.extent);
    EXPECT_EQ(info.SpanSize(), 0u);
    EXPECT_TRUE(info.IsContiguous());
  }
  const TensorInfo aligned = TensorInfo::CreateYUVInfo(4, 6, 64, YUV420SP);
  EXPECT_EQ(aligned.MemSize(), 64u);
  EXPECT_EQ(aligned.MemSize() - aligned.SpanSize(), 36u);
}

TEST(TensorInfo, MergeYUVRecognisesEachPlaneLayout) {
  const TensorInfo y = TensorInfo::CreateNDInfo({4, 6}, UINT8);
  EXPECT_EQ(TensorInfo::MergeYUV(y, TensorInfo::CreateNDInfo({2, 3, 2}, UINT8)).Format(), YUV420SP);
  EXPECT_EQ(TensorInfo::MergeYUV(y, TensorInfo::CreateNDInfo({4, 3, 2}, UINT8)).Format(), YUV422SP);
  const TensorInfo merged = TensorInfo::MergeYUV(y, TensorInfo::CreateNDInfo({4, 6, 2}, UINT8));
  EXPECT_EQ(merged.Format(), YUV444SP);
  EXPECT_EQ(merged.Shape(), (Dims{4, 6}));
  for (const TensorInfo& uv : {TensorInfo::CreateNDInfo({3, 3, 2}, UINT8),
                               TensorInfo::CreateNDInfo({2, 3, 1}, UINT8),
                               TensorInfo::CreateNDInfo({2, 3, 2}, INT8), TensorInfo()}) {
    EXPECT_EQ(TensorInfo::MergeYUV(y, uv).GetInitStatus(), INVALID_ARGUMENT);
  }
  EXPECT_EQ(TensorInfo::MergeYUV(TensorInfo::CreateYUVInfo(4, 6, 0, YUV420SP),
                                 TensorInfo::CreateNDInfo({2, 3, 2}, UINT8))
                .GetInitStatus(),
            INVALID_ARGUMENT);
}

TEST(TensorInfo, DerivedDescriptions) {
  const TensorInfo pitched = TensorInfo::CreateNDInfo({2, 3}, INT16, {8, 2}, 16);
  const TensorInfo contiguous = pitched.AsContiguous();
  EXPECT_TRUE(contiguous.Stride().empty());
  EXPECT_EQ(contiguous.MemSize(), 16u);
  EXPECT_TRUE(pitched.IsMatch(contiguous));  // strides do not matter for copying

  const TensorInfo widened = pitched.AsType(FLOAT32);
  EXPECT_EQ(widened.MemSize(), 32u);
  EXPECT_EQ(widened.EffectiveStrides(), (Dims{12, 4}));
  EXPECT_FALSE(pitched.IsMatch(widened));
  EXPECT_FALSE(pitched.IsMatch(TensorInfo::CreateNDInfo({3, 2}, INT16)));

  const TensorInfo scalar = TensorInfo::CreateNDInfo({}, FLOAT32).AsFormular();
  EXPECT_EQ(scalar.Shape(), Dims{1});
  EXPECT_EQ(scalar.Stride(), Dims{4});
  EXPECT_EQ(TensorInfo::CreateNDInfo({2, 3}, UINT8).AsFormular().Stride(), (Dims{3, 1}));
  EXPECT_EQ(pitched.AsFormular().Stride(), (Dims{8, 2}));

  const TensorInfo yuv = TensorInfo::CreateYUVInfo(2, 2, 0, YUV420SP);
  EXPECT_EQ(yuv.AsType(UINT8).Format(), YUV420SP);
  EXPECT_EQ(yuv.AsType(FLOAT32).GetInitStatus(), UNSUPPORTED);
}

}  // namespace
}  // namespace vadu
