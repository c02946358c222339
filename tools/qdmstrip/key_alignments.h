// Where a restore may put the one raw copy that every header of a key points
// at: each header's offset must be a multiple of its own alignment, so the
// copy goes to a multiple of the least common multiple of the headers'
// non-zero alignments. Headers with alignment 0 ask for nothing; a key whose
// headers all have 0 is placed at 64. When the alignments divide each other,
// the multiple is simply the largest of them.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "qdm_generated.h"
#include "weight_key.h"

namespace vadu::qdmstrip {

class KeyAlignments {
 public:
  // Takes the header's alignment into its key's (size-0 headers too). Throws
  // AllocationFailure when the multiple passes 32 bits: no placement can
  // then satisfy every header, and the raw data could not be laid out.
  void Add(const binary::BinaryHeader &header);

  // The alignment to place `key` at; 0 (placed at 64) when none was asked for.
  uint32_t Of(const WeightKey &key) const;

 private:
  std::unordered_map<WeightKey, uint32_t, WeightKeyHash> aligns_;
};

}  // namespace vadu::qdmstrip
