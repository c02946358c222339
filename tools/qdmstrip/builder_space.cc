#include "builder_space.h"

namespace vadu::qdmstrip {
namespace {

// The builder keeps its buffer to itself; a pointer to the protected member,
// formed in a derived class, is the standard way to reach it.
struct BuilderBuffer : ToolBuilder {
  static auto &Of(ToolBuilder &builder) { return builder.*(&BuilderBuffer::buf_); }
};

}  // namespace

void ReserveBuilderSpace(ToolBuilder &builder, uint64_t bytes) {
  BuilderBuffer::Of(builder).ensure_space(static_cast<size_t>(bytes));
}

InPlaceBytes64 CreateZeroedVector64(ToolBuilder &builder, uint64_t length) {
  builder.StartVector<uint8_t, flatbuffers::Offset64, uint64_t>(length);
  builder.Pad(length);
  uint8_t *start = builder.GetCurrentBufferPointer();
  const auto end = builder.EndVector<uint64_t, flatbuffers::uoffset64_t>(length);
  return {flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>>(end), std::span<uint8_t>(start, length)};
}

}  // namespace vadu::qdmstrip
