#include "weight_bytes.h"

namespace vadu::qdmstrip {

WeightBytes LocateWeightBytes(const binary::Model &model, const binary::Binary &blob,
                              const binary::BinaryHeader &header) {
  const uint8_t *base = nullptr;
  uint64_t length = 0;
  if (IsRawOffset(blob)) {
    if (model.raw_data() == nullptr) return {};
    base = model.raw_data()->data();
    length = model.raw_data()->size();
  } else {
    if (blob.data() == nullptr) return {};
    base = blob.data()->data();
    length = blob.data()->size();
  }
  if (!RangeFits(header.offset(), header.size(), length)) return {};
  return {true, std::span<const uint8_t>(base + header.offset(), header.size())};
}

}  // namespace vadu::qdmstrip
