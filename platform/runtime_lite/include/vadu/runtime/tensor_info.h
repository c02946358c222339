// The description of a tensor: shape, byte strides, element type, layout and
// the memory size it needs.
//
// A TensorInfo is an immutable handle: copies share one description.
//
// ND descriptions: Shape() has one entry per dimension (rank 0 is a single
// element). Stride() is either empty, meaning row-major without gaps, or one
// non-negative byte stride per dimension.
//
// YUV descriptions (YUV420SP, YUV422SP, YUV444SP): an image of `height` rows of
// `width` bytes of Y followed by the interleaved UV plane: height/2 rows of
// width bytes (420, needs even height and width), height rows of width bytes
// (422, needs even width) or height rows of 2*width bytes (444). Shape() is
// {height, width}, the element type UINT8, Stride() empty.
//
// Sizes: the data extent is the number of bytes from the first byte of the
// first element to one past the last byte of the last element (0 when a
// dimension is 0); for YUV it is the Y plane plus the UV plane. MemSize() is the
// data extent rounded up to a multiple of the description's alignment.
// SpanSize() is what that rounding adds: the bytes at the end of the memory
// that hold no element. So MemSize() - SpanSize() is the data extent.
//
// A description that cannot be made reports why in GetInitStatus
// (INVALID_ARGUMENT or UNSUPPORTED) and has an empty shape and MemSize 0.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vadu/runtime/enums.h"

namespace vadu {

class TensorInfo {
 public:
  // An empty description: GetInitStatus is UNINITIALIZED, format ND.
  TensorInfo();

  // align: MemSize is rounded up to a multiple of it (0 and 1: no rounding).
  // Negative dimensions or strides, a stride list whose length differs from
  // the rank, an unknown data type or a size past 2^63 give INVALID_ARGUMENT.
  static TensorInfo CreateNDInfo(const std::vector<int64_t>& shape, vadu::DataType dtype,
                                 const std::vector<int64_t>& strides = {}, uint64_t align = 0);
  // fmt must be one of the YUV formats; align as for CreateNDInfo (negative is
  // INVALID_ARGUMENT).
  static TensorInfo CreateYUVInfo(int64_t height, int64_t width, int64_t align, DataFmt fmt);
  // The YUV description whose planes are y ({height, width} UINT8) and uv
  // ({height/2, width/2, 2}, {height, width/2, 2} or {height, width, 2} UINT8,
  // for 420, 422 and 444): the inverse of splitting a YUV tensor.
  static TensorInfo MergeYUV(const TensorInfo& y, const TensorInfo& uv);

  // True when the elements lie row-major without gaps (always for YUV).
  bool IsContiguous() const;
  // Both initialised, with equal format, element type and shape: one can be
  // copied into the other element by element (strides may differ).
  bool IsMatch(const TensorInfo& other) const;

  // The same description without strides, so row-major without gaps.
  TensorInfo AsContiguous() const;
  // A contiguous description of the same shape with another element type
  // (YUV descriptions only support UINT8).
  TensorInfo AsType(vadu::DataType dtype) const;
  // Rank 0 becomes rank 1 of shape {1}; an empty stride list is filled in with
  // the row-major strides.
  TensorInfo AsFormular() const;
  // An unshared copy.
  TensorInfo Clone() const;

  const std::vector<int64_t>& Shape() const;
  const std::vector<int64_t>& Stride() const;
  vadu::DataType DataType() const;
  uint64_t DataTypeSize() const;
  uint64_t MemSize() const;
  uint64_t SpanSize() const;
  DataFmt Format() const;
  uint64_t Alignment() const;
  Status GetInitStatus() const;

  // Byte strides of the elements: Stride(), or the row-major ones when empty.
  std::vector<int64_t> EffectiveStrides() const;

 private:
  struct Description;
  explicit TensorInfo(std::shared_ptr<const Description> description);
  static TensorInfo Failed(Status status);

  std::shared_ptr<const Description> description_;
};

// Element size of a data type; 0 for a value that is not a DataType.
uint64_t DataTypeSize(vadu::DataType dtype);

}  // namespace vadu
