// The shared state behind Module handles, and the byte-level helpers that
// move tensor data in and out of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vadu/runtime/module.h"

namespace vadu {

namespace detail {

// One input or output of the model and what is bound to it.
struct TensorSlot {
  std::string name;
  TensorInfo info;  // the model's description: contiguous, no alignment
  Tensor bound;     // empty until bound
  bool dummy = false;

  bool IsBound() const { return bound.GetInitStatus() == OK; }
};

// The data extent of a tensor that matches `info`, as contiguous row-major
// bytes; nullopt when the tensor cannot be read.
std::optional<std::vector<uint8_t>> ReadTensorBytes(const Tensor& tensor, const TensorInfo& info);
// Writes contiguous row-major bytes (the data extent of `info`) into a tensor
// that matches `info`.
Status WriteTensorBytes(Tensor& tensor, const TensorInfo& info, const std::vector<uint8_t>& bytes);
// A new host tensor of `info` holding `bytes`.
Tensor MakeHostTensor(const TensorInfo& info, const std::vector<uint8_t>& bytes);

// Bytes of the data extent of a description.
inline uint64_t DataExtent(const TensorInfo& info) { return info.MemSize() - info.SpanSize(); }

const char* DataTypeName(DataType dtype);
const char* DataFmtName(DataFmt format);

TensorSlot* FindSlot(std::vector<TensorSlot>& slots, const std::string& name);
const TensorSlot* FindSlot(const std::vector<TensorSlot>& slots, const std::string& name);

struct ModuleState {
  Status status = UNINITIALIZED;
  std::string name;
  std::string version;
  std::string custom_msg;
  int64_t core_num = 0;
  std::string backend_name;
  std::vector<int32_t> device_ids;
  std::vector<detail::TensorSlot> inputs;
  std::vector<detail::TensorSlot> outputs;
  std::optional<Stream> stream;
};

}  // namespace detail

}  // namespace vadu
