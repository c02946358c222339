// A tensor: a description (TensorInfo) over a buffer that holds its data.
//
// A Tensor is a handle: copies share the description and the memory. A tensor
// is usable (GetInitStatus OK) only when its description and buffer are and
// the buffer holds at least the description's MemSize bytes, so every element
// the description names lies inside the buffer.
//
// Element conversions (AsType, CastTo) go through the value: floating-point
// to integer truncates toward zero, every narrowing saturates at the target's
// range, NaN becomes 0 in integer types, FLOAT16 rounds to nearest even.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vadu/runtime/buffer.h"
#include "vadu/runtime/enums.h"
#include "vadu/runtime/tensor_info.h"

namespace vadu {

class Tensor {
 public:
  // An empty tensor: GetInitStatus is UNINITIALIZED.
  Tensor();
  Tensor(const TensorInfo& info, const vadu::Buffer& buffer);

  // size: bytes of the buffer (0 means info.MemSize()). ptr: caller memory of
  // at least size bytes to wrap, or null to allocate zeroed host memory.
  static Tensor CreateHostTensor(const TensorInfo& info, uint64_t size = 0, void* ptr = nullptr);
  // size as above; the buffer is allocated on device device_id of the backend.
  static Tensor CreateDeviceTensor(const TensorInfo& info, uint64_t size = 0,
                                   int32_t device_id = 0, const std::string& backend_name = "");

  // Splits a YUV tensor into its Y plane ({height, width}) and UV plane
  // ({rows, uv_width, 2}) as ND UINT8 tensors sharing this tensor's memory.
  Status SplitYUV(Tensor& y, Tensor& uv) const;

  // This tensor's elements converted to dtype, in new memory on the same
  // device. With copy unset and dtype already the tensor's, returns this tensor.
  Tensor AsType(vadu::DataType dtype, bool copy) const;
  // Converts this tensor's elements into dst, which must have the same format
  // and shape (its element type may differ). Both copies read the elements as
  // they were before the call, even where dst shares memory with this tensor.
  Status CastTo(Tensor& dst) const;
  // Copies the elements into dst, which must match (TensorInfo::IsMatch).
  Status CopyTo(Tensor& dst) const;
  // A contiguous host copy. With copy unset, a host tensor returns itself.
  Tensor ToHost(bool copy) const;
  // New memory on the same device with the same description; the elements are
  // copied when copy_data is set, zero otherwise.
  Tensor Clone(bool copy_data = true) const;
  // Sets every element's bytes to zero (padding between strided elements is
  // left alone).
  Status SetZero();

  // A view of batches along the first dimension: {b} selects batch b, {b, e}
  // batches b to e-1; the rank is kept. Shares this tensor's memory.
  Tensor SelectBatch(const std::vector<int64_t>& batch) const;
  // A view of the box starting at starts with extents sizes, one entry per
  // dimension. Shares this tensor's memory.
  Tensor SelectROI(const std::vector<int64_t>& starts, const std::vector<int64_t>& sizes) const;
  // The same memory under TensorInfo::AsFormular.
  Tensor AsFormular() const;

  const vadu::Buffer& Buffer() const;
  const TensorInfo& Info() const;
  vadu::Device Device() const;
  int32_t DeviceId() const;
  uint64_t MemSize() const;
  Status GetInitStatus() const;

 private:
  explicit Tensor(Status failure);

  TensorInfo info_;
  vadu::Buffer buffer_;
  Status status_;
};

}  // namespace vadu
