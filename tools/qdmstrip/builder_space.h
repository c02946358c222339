// Keeps a large model from being copied while its builder grows. A builder
// that runs out of room allocates a larger buffer and copies everything into
// it, so a model of several GiB would briefly need its size twice over. When
// the final size is known up front, reserving it once avoids that; the bytes
// of the finished buffer do not depend on how much room was reserved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <flatbuffers/flatbuffers.h>

#include "tool_builder.h"

namespace vadu::qdmstrip {

// Makes sure at least `bytes` more can be added without reallocating. The
// reserved memory stays untouched (and so not resident) until written. Throws
// AllocationFailure when the memory cannot be had (see allocation_failure.h):
// `bytes` is checked against the allocation limit, so it should be what the
// builder will really hold.
void ReserveBuilderSpace(ToolBuilder &builder, uint64_t bytes);
// The same without the check against the limit, for room whose need was
// checked elsewhere; a refusal of the system still throws AllocationFailure.
void EnsureBuilderSpace(ToolBuilder &builder, uint64_t bytes);

// A 64-bit byte vector of `length` bytes, created in the builder like
// CreateVector64 would, whose bytes the caller fills in place.
struct InPlaceBytes64 {
  flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>> offset;
  std::span<uint8_t> bytes;
};
// The bytes are zero.
InPlaceBytes64 CreateZeroedVector64(ToolBuilder &builder, uint64_t length);
// The bytes are left as the builder's memory has them: the caller must write
// every one of them (GapZeroingWriter does), and before the builder is used again.
InPlaceBytes64 CreateUnfilledVector64(ToolBuilder &builder, uint64_t length);

// The same for a 32-bit byte vector, as CreateVector makes for a Binary's data.
struct InPlaceBytes {
  flatbuffers::Offset<flatbuffers::Vector<uint8_t>> offset;
  std::span<uint8_t> bytes;
};
InPlaceBytes CreateUnfilledVector(ToolBuilder &builder, size_t length);

// Writes pieces into a target front to back, each at an offset not below the
// end of the one before, and zeroes the gaps between them; Finish zeroes what
// is left up to the end. Every byte of the target is written exactly once, so
// a target need not be zero-filled first.
class GapZeroingWriter {
 public:
  explicit GapZeroingWriter(std::span<uint8_t> target) : target_(target) {}
  void Put(uint64_t offset, std::span<const uint8_t> bytes);
  void Finish();

 private:
  std::span<uint8_t> target_;
  uint64_t end_ = 0;  // everything before it has been written
};

}  // namespace vadu::qdmstrip
