#include "sub_model_view.h"

#include <cstring>

#include "model_verifier.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {

bool SubModelView::Open(const binary::Models &container, const binary::BinaryHeader &header) {
  data_ = nullptr;
  size_ = 0;
  aligned_copy_.reset();
  const auto *model_data = container.model_data();
  if (model_data == nullptr || !RangeFits(header.offset(), header.size(), model_data->size())) return false;

  const uint8_t *start = model_data->data() + header.offset();
  const uint64_t size = header.size();
  if (reinterpret_cast<uintptr_t>(start) % alignof(uint64_t) != 0) {
    aligned_copy_ = std::make_unique<uint64_t[]>((size + 7) / 8);
    std::memcpy(aligned_copy_.get(), start, size);
    start = reinterpret_cast<const uint8_t *>(aligned_copy_.get());
  }
  if (!binary::VerifyModelBuffer(start, size)) {
    aligned_copy_.reset();
    return false;
  }
  data_ = start;
  size_ = size;
  return true;
}

}  // namespace vadu::qdmstrip
