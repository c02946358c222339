// Where a restore may put the one raw copy that every RAW_OFFSET header of a
// key points at. The copy goes to a multiple of the largest alignment any
// header of the key asks for, in any Binary (64 when all ask for 0), as it
// always has. Each RAW_OFFSET header's offset must also be a multiple of its
// own alignment, so where that largest alignment is not already a multiple
// of theirs, the least common multiple of it and theirs is used. Embedded
// headers of the key get bytes of their own and ask nothing more of the copy.
//
// Wherever the largest alignment alone suited every RAW_OFFSET header, the
// multiple equals it, so such placements never move.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "qdm_generated.h"
#include "weight_key.h"

namespace vadu::qdmstrip {

class KeyAlignments {
 public:
  // Takes the alignment of `header`, which belongs to `blob` (size-0 headers too).
  void Add(const binary::Binary &blob, const binary::BinaryHeader &header);

  // The alignment to place `key` at; 0 (placed at 64) when none was asked
  // for. A multiple beyond 64 bits gives kLayoutBeyond64Bits, which leaves
  // only offset 0 (see AlignedPosition).
  uint64_t Of(const WeightKey &key) const;

 private:
  struct Asked {
    uint32_t largest = 0;       // of every header of the key
    uint64_t raw_multiple = 1;  // of the non-zero ones of its RAW_OFFSET headers
  };
  std::unordered_map<WeightKey, Asked, WeightKeyHash> asked_;
};

}  // namespace vadu::qdmstrip
