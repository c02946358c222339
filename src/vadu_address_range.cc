#include "vadu_address_range.h"

#include <algorithm>

#include "vadu_log.h"

namespace vadu {

// The log lines are written under the lock; the logging library's own locks
// are always taken after it.
void AddressRangeManager::AddAddressRange(uint64_t start, uint64_t end) {
  std::lock_guard lock(mutex_);
  VADU_TAG_LOG_INFO("MMAP") << "Adding address range: " << logging::hex << start
                            << " - " << end;
  ranges_.emplace_back(start, end);
}

void AddressRangeManager::RemoveAddressRange(uint64_t start, uint64_t size) {
  std::lock_guard lock(mutex_);
  const uint64_t end = start + size;
  VADU_TAG_LOG_INFO("MMAP") << "Removing address range: " << logging::hex << start
                            << " - " << end;
  std::erase(ranges_, std::pair<uint64_t, uint64_t>(start, end));
}

bool AddressRangeManager::Contains(uint64_t address) {
  std::lock_guard lock(mutex_);
  return std::any_of(ranges_.begin(), ranges_.end(), [address](const auto& range) {
    return range.first <= address && address < range.second;
  });
}

}  // namespace vadu
