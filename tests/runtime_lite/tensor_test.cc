#include "vadu/runtime/tensor.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace vadu {
namespace {

using Dims = std::vector<int64_t>;

// A host tensor of the given shape holding the values in row-major order.
template <typename T>
Tensor HostTensor(const Dims& shape, DataType dtype, const std::vector<T>& values) {
  Tensor tensor = Tensor::CreateHostTensor(TensorInfo::CreateNDInfo(shape, dtype));
  EXPECT_EQ(tensor.GetInitStatus(), OK);
  vadu::Buffer buffer = tensor.Buffer();
  EXPECT_EQ(buffer.CopyFromHost(values.data(), values.size() * sizeof(T), 0), OK);
  return tensor;
}

// The elements of a tensor in row-major order, whatever its strides.
template <typename T>
std::vector<T> Elements(const Tensor& tensor) {
  Tensor host = tensor.ToHost(true);
  EXPECT_EQ(host.GetInitStatus(), OK);
  std::vector<T> values(host.Info().MemSize() / sizeof(T));
  EXPECT_EQ(host.Buffer().CopyToHost(values.data(), values.size() * sizeof(T), 0), OK);
  return values;
}

TEST(Tensor, NeedsABufferThatHoldsTheDescription) {
  const TensorInfo info = TensorInfo::CreateNDInfo({2, 4}, INT16);
  EXPECT_EQ(Tensor(info, Buffer::CreateHostBuffer(16)).GetInitStatus(), OK);
  EXPECT_EQ(Tensor(info, Buffer::CreateHostBuffer(15)).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(Tensor(info, Buffer()).GetInitStatus(), UNINITIALIZED);
  EXPECT_EQ(Tensor(TensorInfo::CreateNDInfo({-1}, INT8), Buffer::CreateHostBuffer(4))
                .GetInitStatus(),
            INVALID_ARGUMENT);
  EXPECT_EQ(Tensor().GetInitStatus(), UNINITIALIZED);

  const Tensor host = Tensor::CreateHostTensor(info);
  EXPECT_EQ(host.Buffer().Size(), 16u);
  EXPECT_EQ(host.Device(), CPU);
  EXPECT_EQ(Tensor::CreateHostTensor(info, 64).Buffer().Size(), 64u);
  const Tensor device = Tensor::CreateDeviceTensor(info, 0, 1, "sim");
  EXPECT_EQ(device.Device(), HDPL);
  EXPECT_EQ(device.DeviceId(), 1);
  EXPECT_EQ(Tensor::CreateDeviceTensor(info, 0, 0, "none").GetInitStatus(), UNSUPPORTED);
}

TEST(Tensor, SplitYUVGivesPlanesOverTheSameMemory) {
  Tensor image = Tensor::CreateHostTensor(TensorInfo::CreateYUVInfo(4, 6, 64, YUV420SP));
  ASSERT_EQ(image.GetInitStatus(), OK);
  Tensor y;
  Tensor uv;
  ASSERT_EQ(image.SplitYUV(y, uv), OK);
  EXPECT_EQ(y.Info().Shape(), (Dims{4, 6}));
  EXPECT_EQ(uv.Info().Shape(), (Dims{2, 3, 2}));
  EXPECT_EQ(y.Buffer().Data(), image.Buffer().Data());
  EXPECT_EQ(static_cast<uint8_t*>(uv.Buffer().Data()),
            static_cast<uint8_t*>(image.Buffer().Data()) + 24);
  EXPECT_EQ(uv.Buffer().Size(), 12u);
  EXPECT_EQ(TensorInfo::MergeYUV(y.Info(), uv.Info()).MemSize(), 36u);

  Tensor untouched_y;
  Tensor untouched_uv;
  const Tensor nd = Tensor::CreateHostTensor(TensorInfo::CreateNDInfo({4}, UINT8));
  EXPECT_EQ(nd.SplitYUV(untouched_y, untouched_uv), INVALID_ARGUMENT);
  EXPECT_EQ(Tensor().SplitYUV(untouched_y, untouched_uv), UNINITIALIZED);
  EXPECT_EQ(untouched_y.GetInitStatus(), UNINITIALIZED);
}

TEST(Tensor, AsTypeConvertsEveryElement) {
  const Tensor source = HostTensor<float>({2, 3}, FLOAT32, {-300.5f, -1.5f, 0.0f, 1.5f, 127.9f, 1e6f});
  EXPECT_EQ(Elements<int8_t>(source.AsType(INT8, false)),
            (std::vector<int8_t>{-128, -1, 0, 1, 127, 127}));
  EXPECT_EQ(Elements<uint16_t>(source.AsType(UINT16, false)),
            (std::vector<uint16_t>{0, 0, 0, 1, 127, 65535}));
  const std::vector<uint16_t> halves = Elements<uint16_t>(source.AsType(FLOAT16, false));
  EXPECT_EQ(halves[3], 0x3e00);  // 1.5
  EXPECT_EQ(halves[5], 0x7c00);  // too large: infinity
  EXPECT_EQ(Elements<float>(source.AsType(FLOAT16, false).AsType(FLOAT32, false))[1], -1.5f);

  EXPECT_EQ(source.AsType(FLOAT32, false).Buffer().Data(), source.Buffer().Data());
  EXPECT_NE(source.AsType(FLOAT32, true).Buffer().Data(), source.Buffer().Data());

  const Tensor on_device = Tensor::CreateDeviceTensor(TensorInfo::CreateNDInfo({2}, INT32), 0, 1);
  const Tensor converted = on_device.AsType(FLOAT32, false);
  EXPECT_EQ(converted.Device(), HDPL);
  EXPECT_EQ(converted.DeviceId(), 1);
}

TEST(Tensor, CastToAndCopyToCheckTheTarget) {
  const Tensor source = HostTensor<int32_t>({3}, INT32, {-7, 8, 70000});
  Tensor target = Tensor::CreateHostTensor(TensorInfo::CreateNDInfo({3}, INT16));
  ASSERT_EQ(source.CastTo(target), OK);
  EXPECT_EQ(Elements<int16_t>(target), (std::vector<int16_t>{-7, 8, 32767}));
  EXPECT_EQ(source.CopyTo(target), INVALID_ARGUMENT);  // types differ
  Tensor wrong_shape = Tensor::CreateHostTensor(TensorInfo::CreateNDInfo({4}, INT16));
  EXPECT_EQ(source.CastTo(wrong_shape), INVALID_ARGUMENT);
  Tensor empty;
  EXPECT_EQ(source.CopyTo(empty), UNINITIALIZED);
  Tensor yuv = Tensor::CreateHostTensor(TensorInfo::CreateYUVInfo(2, 2, 0, YUV444SP));
  EXPECT_EQ(source.CastTo(yuv), INVALID_ARGUMENT);
}

TEST(Tensor, ViewsShareMemoryAndStayInBounds) {
  std::vector<int32_t> values(24);
  for (int i = 0; i < 24; ++i) values[i] = i;
  const Tensor whole = HostTensor<int32_t>({2, 3, 4}, INT32, values);

  const Tensor second = whole.SelectBatch({1});
  ASSERT_EQ(second.GetInitStatus(), OK);
  EXPECT_EQ(second.Info().Shape(), (Dims{1, 3, 4}));
  EXPECT_EQ(Elements<int32_t>(second).front(), 12);
  EXPECT_EQ(whole.SelectBatch({0, 2}).Info().Shape(), (Dims{2, 3, 4}));
  constexpr int64_t kLast = std::numeric_limits<int64_t>::max();
  for (const Dims& bad : {Dims{2}, Dims{-1}, Dims{1, 1}, Dims{0, 3}, Dims{}, Dims{0, 1, 2},
                          Dims{kLast}, Dims{kLast, kLast}}) {
    EXPECT_NE(whole.SelectBatch(bad).GetInitStatus(), OK);
  }

  // Rows 1..2 and columns 1..2 of batch 1: a strided box.
  const Tensor box = whole.SelectROI({1, 1, 1}, {1, 2, 2});
  ASSERT_EQ(box.GetInitStatus(), OK);
  EXPECT_EQ(box.Info().Stride(), (Dims{48, 16, 4}));
  EXPECT_FALSE(box.Info().IsContiguous());
  EXPECT_EQ(Elements<int32_t>(box), (std::vector<int32_t>{17, 18, 21, 22}));
  // A box of the box is checked against the box, not the whole tensor.
  EXPECT_EQ(Elements<int32_t>(box.SelectROI({0, 1, 1}, {1, 1, 1})), std::vector<int32_t>{22});
  EXPECT_EQ(box.SelectROI({0, 1, 1}, {1, 2, 1}).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(whole.SelectROI({0, 0, 3}, {1, 1, 2}).GetInitStatus(), OUT_OF_RANGE);
  EXPECT_EQ(whole.SelectROI({0, 0}, {1, 1}).GetInitStatus(), INVALID_ARGUMENT);
  EXPECT_EQ(whole.SelectROI({0, 0, 4}, {1, 1, 0}).GetInitStatus(), OK);  // empty box

  Tensor box_clone = box.Clone(true);
  EXPECT_EQ(Elements<int32_t>(box_clone), (std::vector<int32_t>{17, 18, 21, 22}));
  Tensor dense = Tensor::CreateHostTensor(box.Info().AsContiguous());
  ASSERT_EQ(box.CopyTo(dense), OK);
  EXPECT_EQ(Elements<int32_t>(dense), (std::vector<int32_t>{17, 18, 21, 22}));

  // Zeroing the box leaves the elements around it alone.
  Tensor writable_box = box;
  ASSERT_EQ(writable_box.SetZero(), OK);
  const std::vector<int32_t> after = Elements<int32_t>(whole);
  EXPECT_EQ(after[16], 16);
  EXPECT_EQ(after[17], 0);
  EXPECT_EQ(after[19], 19);
  EXPECT_EQ(after[22], 0);
  EXPECT_EQ(after[23], 23);
}

TEST(Tensor, HostCopiesAndClones) {
  const Tensor device = Tensor::CreateDeviceTensor(TensorInfo::CreateNDInfo({2}, INT32));
  vadu::Buffer device_buffer = device.Buffer();
  const int32_t values[] = {5, 6};
  ASSERT_EQ(device_buffer.CopyFromHost(values, sizeof values, 0), OK);
  const Tensor host = device.ToHost(false);
  EXPECT_EQ(host.Device(), CPU);
  EXPECT_EQ(Elements<int32_t>(host), (std::vector<int32_t>{5, 6}));
  EXPECT_EQ(host.ToHost(false).Buffer().Data(), host.Buffer().Data());
  EXPECT_NE(host.ToHost(true).Buffer().Data(), host.Buffer().Data());

  const Tensor blank = device.Clone(false);
  EXPECT_EQ(blank.Device(), HDPL);
  EXPECT_EQ(Elements<int32_t>(blank), (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(Elements<int32_t>(device.Clone(true)), (std::vector<int32_t>{5, 6}));

  const Tensor scalar = HostTensor<float>({}, FLOAT32, {2.5f}).AsFormular();
  EXPECT_EQ(scalar.Info().Shape(), Dims{1});
  EXPECT_EQ(Elements<float>(scalar), std::vector<float>{2.5f});
}

}  // namespace
}  // namespace vadu
