#include "element_ops.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace vadu::sim {
namespace {

TEST(Half, EncodesWithRoundingToNearestEven) {
  EXPECT_EQ(FloatToHalf(-0.0f), 0x8000);
  EXPECT_EQ(FloatToHalf(0.1f), 0x2e66);
  EXPECT_EQ(FloatToHalf(65504.0f), 0x7bff);            // largest finite
  EXPECT_EQ(FloatToHalf(65519.0f), 0x7bff);            // still rounds down
  EXPECT_EQ(FloatToHalf(65520.0f), 0x7c00);            // halfway: to even, which is infinity
  EXPECT_EQ(FloatToHalf(-1e9f), 0xfc00);
  EXPECT_EQ(FloatToHalf(1.0f + 1.0f / 2048), 0x3c00);  // tie, even stays
  EXPECT_EQ(FloatToHalf(1.0f + 3.0f / 2048), 0x3c02);  // tie, odd rounds up
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -24)), 0x0001);  // smallest subnormal
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -26)), 0x0000);
  EXPECT_EQ(FloatToHalf(std::ldexp(2047.0f, -25)), 0x0400);  // rounds up into the normals
  EXPECT_EQ(FloatToHalf(std::numeric_limits<float>::infinity()), 0x7c00);
  const uint16_t nan = FloatToHalf(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(nan & 0x7c00, 0x7c00);
  EXPECT_NE(nan & 0x03ff, 0);
}

TEST(Half, DecodesEveryClass) {
  EXPECT_EQ(HalfToFloat(0xc000), -2.0f);
  EXPECT_EQ(HalfToFloat(0x8001), -std::ldexp(1.0f, -24));
  EXPECT_TRUE(std::isinf(HalfToFloat(0x7c00)));
  EXPECT_TRUE(std::isnan(HalfToFloat(0x7e00)));
  // Every finite half survives the round trip through float.
  for (uint32_t half = 0; half < 0x10000; ++half) {
    if ((half & 0x7c00) == 0x7c00) continue;
    ASSERT_EQ(FloatToHalf(HalfToFloat(static_cast<uint16_t>(half))), half) << half;
  }
}

TEST(Elements, NarrowingTruncatesAndSaturates) {
  struct Case {
    DataType dtype;
    double value;
    double stored;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {INT8, -300.7, -128},         {INT8, -1.9, -1},           {INT8, 1.9, 1},
      {INT8, 300, 127},             {INT8, nan, 0},             {UINT8, -5, 0},
      {UINT8, 255.9, 255},          {UINT8, 256, 255},          {INT16, -40000, -32768},
      {UINT16, 70000, 65535},       {INT32, 4294967295.0, 2147483647},
      {INT32, -3e9, -2147483648.0}, {UINT32, -1, 0},            {UINT32, 4294967295.0, 4294967295.0},
      {FLOAT16, 70000, std::numeric_limits<double>::infinity()},
      {FLOAT32, 0.5, 0.5},          {FLOAT32, 1e300, std::numeric_limits<double>::infinity()},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 4> element{};
    StoreElement(element.data(), c.dtype, c.value);
    EXPECT_EQ(LoadElement(element.data(), c.dtype), c.stored) << c.dtype << " " << c.value;
  }
}

TEST(Elements, WalkVisitsStridedElementsInRowMajorOrder) {
  std::vector<std::pair<int64_t, int64_t>> visited;
  ForEachElementPair({2, 3}, {20, 4}, {12, 4},
                     [&](int64_t a, int64_t b) { visited.emplace_back(a, b); });
  const std::vector<std::pair<int64_t, int64_t>> expected = {
      {0, 0}, {4, 4}, {8, 8}, {20, 12}, {24, 16}, {28, 20}};
  EXPECT_EQ(visited, expected);

  int calls = 0;
  ForEachElementPair({}, {}, {}, [&](int64_t a, int64_t b) {
    EXPECT_EQ(a + b, 0);
    ++calls;
  });
  EXPECT_EQ(calls, 1);  // rank 0 is one element
  ForEachElementPair({3, 0}, {4, 4}, {4, 4}, [&](int64_t, int64_t) { ++calls; });
  EXPECT_EQ(calls, 1);  // a zero dimension has no elements
}

}  // namespace
}  // namespace vadu::sim
