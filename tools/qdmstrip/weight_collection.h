// What the strip learns about the weight headers of one model: per Binary its
// kept headers, and across the model the shared ones. The container strip
// gathers each sub-model the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdm_generated.h"
#include "weight_key.h"

namespace vadu::qdmstrip {

// One header as the repacking sees it; absent fields read as 0 or "".
struct RepackHeader {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t align = 0;  // 0 places at multiples of 64
  uint64_t hash = 0;
  std::string name;
  uint64_t new_offset = 0;  // stays 0 for a size-0 header and for a shared one
  bool shared = false;
};

RepackHeader ToRepackHeader(const binary::BinaryHeader &header);

// Every per-Binary list has one entry per Binary of Model.weights, in order.
// Pointers point into the mapped model and live as long as its mapping.
struct WeightCollection {
  std::vector<std::vector<RepackHeader>> kept_headers;
  std::vector<std::vector<const binary::Attribute *>> binary_attrs;
  std::vector<std::string> binary_names;
  std::vector<binary::BinaryType> binary_types;
  std::vector<bool> is_raw_offset;
  std::vector<const binary::Binary *> binaries;
  std::vector<RepackHeader> shared_headers;  // Binary by Binary, in header order
  uint64_t non_shared_count = 0;
  uint64_t total_count = 0;
};

// Splits the headers of `model` into kept and shared ones (a header is shared
// when its size is non-zero and its key is in `shared_keys`) and prints the
// "[INFO] Gathered ..." summary to standard error. False, with the collection
// untouched, when the model is absent or has no `weights`.
bool GatherWeightMetadata(const binary::Model *model, const WeightKeySet &shared_keys,
                          WeightCollection &collection);

}  // namespace vadu::qdmstrip
