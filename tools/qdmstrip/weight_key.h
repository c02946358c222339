// The identity of a weight across models: the pair (hash, size) of its
// header, absent fields counting as 0. Names, alignments and offsets play no
// part. Only a header with a non-zero size has a key.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "qdm_generated.h"

namespace vadu::qdmstrip {

struct WeightKey {
  uint64_t hash = 0;
  uint64_t size = 0;

  friend bool operator==(const WeightKey &, const WeightKey &) = default;
};

struct WeightKeyHash {
  size_t operator()(const WeightKey &key) const noexcept {
    const uint64_t h = key.hash;
    return static_cast<size_t>(h ^ (key.size + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2)));
  }
};

using WeightKeySet = std::unordered_set<WeightKey, WeightKeyHash>;

// The header's (hash, size); the generated accessors already read absent fields as 0.
inline WeightKey KeyOf(const binary::BinaryHeader &header) { return WeightKey{header.hash(), header.size()}; }

// Adds the key of every header with a non-zero size, in every weight Binary
// whatever its type and name. A model without `weights` adds nothing.
void AddWeightKeys(const binary::Model &model, WeightKeySet &keys);

// Removes from `shared` every key that `other` lacks.
void KeepCommonKeys(WeightKeySet &shared, const WeightKeySet &other);

}  // namespace vadu::qdmstrip
