#include "builder_space.h"

#include <sys/mman.h>

#include <cstdint>

namespace vadu::qdmstrip {
namespace {

// The builder keeps its buffer to itself; a pointer to the protected member,
// formed in a derived class, is the standard way to reach it.
struct BuilderBuffer : ToolBuilder {
  static auto &Of(ToolBuilder &builder) { return builder.*(&BuilderBuffer::buf_); }
};

}  // namespace

void ReserveBuilderSpace(ToolBuilder &builder, uint64_t bytes) {
  auto &buffer = BuilderBuffer::Of(builder);
  buffer.ensure_space(static_cast<size_t>(bytes));
  // Large pages make touching GiBs of fresh memory much cheaper; only a hint.
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(buffer.scratch_data());
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (start + buffer.capacity()) & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

InPlaceBytes64 CreateZeroedVector64(ToolBuilder &builder, uint64_t length) {
  builder.StartVector<uint8_t, flatbuffers::Offset64, uint64_t>(length);
  builder.Pad(length);
  uint8_t *start = builder.GetCurrentBufferPointer();
  const auto end = builder.EndVector<uint64_t, flatbuffers::uoffset64_t>(length);
  return {flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>>(end), std::span<uint8_t>(start, length)};
}

}  // namespace vadu::qdmstrip
