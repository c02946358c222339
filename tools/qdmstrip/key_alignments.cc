#include "key_alignments.h"

#include <numeric>
#include <string>

#include "allocation_failure.h"

namespace vadu::qdmstrip {

void KeyAlignments::Add(const binary::BinaryHeader &header) {
  uint32_t &align = aligns_[KeyOf(header)];
  if (header.align() == 0) return;
  if (align == 0) {
    align = header.align();
    return;
  }
  // Below 2^64: both factors are below 2^32.
  const uint64_t multiple = std::lcm(uint64_t{align}, uint64_t{header.align()});
  if (multiple > UINT32_MAX) {
    const std::string name = header.name() != nullptr ? header.name()->str() : "unknown";
    throw AllocationFailure("Cannot lay out raw data for weight " + name + " (hash=" + std::to_string(header.hash()) +
                            ", size=" + std::to_string(header.size()) +
                            "): the common multiple of its alignments passes 2^32");
  }
  align = static_cast<uint32_t>(multiple);
}

uint32_t KeyAlignments::Of(const WeightKey &key) const {
  const auto it = aligns_.find(key);
  return it != aligns_.end() ? it->second : 0;
}

}  // namespace vadu::qdmstrip
