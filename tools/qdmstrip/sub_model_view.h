// One sub-model of a container, found through its header and checked as a
// single model before anything of it is read.
#pragma once

#include <cstdint>
#include <memory>

#include "qdms_generated.h"

namespace vadu::qdmstrip {

class SubModelView {
 public:
  // Locates the bytes of `header` inside `container`'s model_data (offset
  // plus size compared with its length without wrap-around, so no byte
  // outside model_data is ever read) and checks them as a single model
  // (length, "QDM0", root offset, schema). False when either fails.
  bool Open(const binary::Models &container, const binary::BinaryHeader &header);

  const uint8_t *data() const { return data_; }
  uint64_t size() const { return size_; }
  const binary::Model *model() const { return binary::GetModel(data_); }

 private:
  const uint8_t *data_ = nullptr;
  uint64_t size_ = 0;
  // Only for a sub-model whose start is not 8-byte aligned in memory (an odd
  // placement alignment): its scalars are then read from an aligned copy.
  std::unique_ptr<uint64_t[]> aligned_copy_;
};

}  // namespace vadu::qdmstrip
