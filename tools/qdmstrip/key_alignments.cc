#include "key_alignments.h"

#include <algorithm>
#include <numeric>

#include "allocation_failure.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

// The least common multiple, kLayoutBeyond64Bits once it passes 64 bits.
uint64_t SaturatingLcm(uint64_t a, uint64_t b) {
  if (a == kLayoutBeyond64Bits || b == kLayoutBeyond64Bits) return kLayoutBeyond64Bits;
  const uint64_t factor = a / std::gcd(a, b);
  return factor > kLayoutBeyond64Bits / b ? kLayoutBeyond64Bits : factor * b;
}

}  // namespace

void KeyAlignments::Add(const binary::Binary &blob, const binary::BinaryHeader &header) {
  Asked &asked = asked_[KeyOf(header)];
  asked.largest = std::max(asked.largest, header.align());
  if (IsRawOffset(blob) && header.align() != 0) asked.raw_multiple = SaturatingLcm(asked.raw_multiple, header.align());
}

uint64_t KeyAlignments::Of(const WeightKey &key) const {
  const auto it = asked_.find(key);
  if (it == asked_.end() || it->second.largest == 0) return 0;
  return SaturatingLcm(it->second.largest, it->second.raw_multiple);
}

}  // namespace vadu::qdmstrip
