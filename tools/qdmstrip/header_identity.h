// Matching of rebuilt headers to repack records: the strip finds a header's
// record by its hash, size, name and alignment together (absent values as 0
// and ""). The alignment belongs to the identity so that a header never takes
// over another header's alignment, or an offset that only suits that one.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "weight_collection.h"

namespace vadu::qdmstrip {

struct HeaderIdentity {
  uint64_t hash = 0;
  uint64_t size = 0;
  std::string name;
  uint32_t align = 0;

  friend bool operator==(const HeaderIdentity &, const HeaderIdentity &) = default;
};

struct HeaderIdentityHash {
  size_t operator()(const HeaderIdentity &id) const noexcept {
    return WeightKeyHash{}(WeightKey{id.hash, id.size}) ^ (std::hash<std::string>{}(id.name) << 1) ^ (uint64_t{id.align} << 7);
  }
};

HeaderIdentity IdentityOf(const binary::BinaryHeader &header);
inline HeaderIdentity IdentityOf(const RepackHeader &r) { return {r.hash, r.size, r.name, r.align}; }

// The first record of `records` for each identity.
class FirstRecordIndex {
 public:
  explicit FirstRecordIndex(const std::vector<RepackHeader> &records);
  const RepackHeader *Find(const HeaderIdentity &id) const;

 private:
  std::unordered_map<HeaderIdentity, const RepackHeader *, HeaderIdentityHash> first_;
};

}  // namespace vadu::qdmstrip
