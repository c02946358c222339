#include "weight_key.h"

namespace vadu::qdmstrip {

void AddWeightKeys(const binary::Model &model, WeightKeySet &keys) {
  const auto *weights = model.weights();
  if (weights == nullptr) return;
  for (const binary::Binary *blob : *weights) {
    if (blob == nullptr || blob->headers() == nullptr) continue;
    for (const binary::BinaryHeader *header : *blob->headers()) {
      if (header != nullptr && header->size() != 0) keys.insert(KeyOf(*header));
    }
  }
}

void KeepCommonKeys(WeightKeySet &shared, const WeightKeySet &other) {
  std::erase_if(shared, [&other](const WeightKey &key) { return !other.contains(key); });
}

}  // namespace vadu::qdmstrip
