#include "builder_space.h"

#include <cassert>
#include <cstdint>
#include <cstring>

#include "allocation_failure.h"

namespace vadu::qdmstrip {
namespace {

// The builder keeps its buffer to itself; a pointer to the protected member,
// formed in a derived class, is the standard way to reach it.
struct BuilderBuffer : ToolBuilder {
  static auto &Of(ToolBuilder &builder) { return builder.*(&BuilderBuffer::buf_); }
};

constexpr const char *kPurpose = "the model being built";

}  // namespace

void ReserveBuilderSpace(ToolBuilder &builder, uint64_t bytes) {
  CheckAllocation(SaturatingAdd(bytes, builder.GetSize()), kPurpose);
  EnsureBuilderSpace(builder, bytes);
}

// No large-page hint: on hosts that take back the memory a guest frees, a
// large page of fresh memory costs several times what small pages do, and
// the builder's buffer is the largest allocation of a run.
void EnsureBuilderSpace(ToolBuilder &builder, uint64_t bytes) {
  try {
    BuilderBuffer::Of(builder).ensure_space(static_cast<size_t>(bytes));
  } catch (const AllocationFailure &) {
    throw;  // the builder's own allocator said what it was for
  } catch (const std::bad_alloc &) {
    throw AllocationFailure(SaturatingAdd(bytes, builder.GetSize()), kPurpose);
  }
}

// The bytes are located once the vector is ended: pushing its length may
// still move the builder's buffer.
InPlaceBytes64 CreateZeroedVector64(ToolBuilder &builder, uint64_t length) {
  builder.StartVector<uint8_t, flatbuffers::Offset64, uint64_t>(length);
  builder.Pad(length);
  const auto end = builder.EndVector<uint64_t, flatbuffers::uoffset64_t>(length);
  uint8_t *start = builder.GetCurrentBufferPointer() + sizeof(uint64_t);
  return {flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>>(end), std::span<uint8_t>(start, length)};
}

InPlaceBytes64 CreateUnfilledVector64(ToolBuilder &builder, uint64_t length) {
  builder.StartVector<uint8_t, flatbuffers::Offset64, uint64_t>(length);
  BuilderBuffer::Of(builder).make_space(length);
  const auto end = builder.EndVector<uint64_t, flatbuffers::uoffset64_t>(length);
  uint8_t *start = builder.GetCurrentBufferPointer() + sizeof(uint64_t);
  return {flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>>(end), std::span<uint8_t>(start, length)};
}

InPlaceBytes CreateUnfilledVector(ToolBuilder &builder, size_t length) {
  builder.StartVector<uint8_t>(length);
  BuilderBuffer::Of(builder).make_space(length);
  const auto end = builder.EndVector(length);
  uint8_t *start = builder.GetCurrentBufferPointer() + sizeof(flatbuffers::uoffset_t);
  return {flatbuffers::Offset<flatbuffers::Vector<uint8_t>>(end), std::span<uint8_t>(start, length)};
}

void GapZeroingWriter::Put(uint64_t offset, std::span<const uint8_t> bytes) {
  assert(offset >= end_ && offset <= target_.size() && bytes.size() <= target_.size() - offset);
  if (offset > end_) std::memset(target_.data() + end_, 0, offset - end_);
  if (!bytes.empty()) std::memcpy(target_.data() + offset, bytes.data(), bytes.size());
  end_ = offset + bytes.size();
}

void GapZeroingWriter::Finish() {
  if (target_.size() > end_) std::memset(target_.data() + end_, 0, target_.size() - end_);
  end_ = target_.size();
}

}  // namespace vadu::qdmstrip
