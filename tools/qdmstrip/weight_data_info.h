// One weight found in a source model, as the restore modes collect it: where
// its bytes are (in place in a mapping, or an owned copy) and what its header said.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "weight_key.h"

namespace vadu::qdmstrip {

struct WeightDataInfo {
  std::vector<uint8_t> bytes;      // owned copy; used when nothing stays mapped
  const uint8_t *data = nullptr;   // in place inside a mapped source; null for size 0
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t align = 0;
  uint64_t hash = 0;
  std::string name;
  bool is_raw = false;             // the source Binary was RAW_OFFSET
  std::string source_path;

  // The `size` bytes at `data` when it is set, otherwise `bytes`; empty when the entry has none.
  std::span<const uint8_t> Bytes() const {
    if (data != nullptr) return {data, static_cast<size_t>(size)};
    return {bytes.data(), bytes.size()};
  }
  bool HasBytes() const { return data != nullptr || !bytes.empty(); }
};

using WeightDataMap = std::unordered_map<WeightKey, WeightDataInfo, WeightKeyHash>;

}  // namespace vadu::qdmstrip
