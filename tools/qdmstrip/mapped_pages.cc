#include "mapped_pages.h"

#include <unistd.h>

#include "vadu_mmap.h"

namespace vadu::qdmstrip {

void ReadAheadForCopying(const ReadOnlyMMapFile &input) {
  if (input.data() == nullptr) return;  // an empty file has no pages
  ReadOnlyMMapFile::MarkSequential(input.data(), input.size());
}

void ReleaseCopiedPages(std::span<const uint8_t> bytes) {
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(bytes.data());
  const uintptr_t first = (begin + page - 1) / page * page;
  const uintptr_t last = (begin + bytes.size()) / page * page;
  if (last <= first || !ReadOnlyMMapFile::IsLazyMemory(bytes.data())) return;
  ReadOnlyMMapFile::MarkDontNeed(reinterpret_cast<const void *>(first), last - first);
}

}  // namespace vadu::qdmstrip
