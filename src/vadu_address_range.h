// Process-wide registry of the address ranges of lazily loaded mappings.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace vadu {

class AddressRangeManager {
 public:
  // Appends [start, end); duplicates are kept.
  void AddAddressRange(uint64_t start, uint64_t end);
  // Erases every range equal to [start, start + size), keeping the others' order.
  void RemoveAddressRange(uint64_t start, uint64_t size);
  // True when some range holds the address.
  bool Contains(uint64_t address);

 private:
  std::vector<std::pair<uint64_t, uint64_t>> ranges_;
  std::mutex mutex_;
};

}  // namespace vadu
