// Keeps a large model from being copied while its builder grows. A builder
// that runs out of room allocates a larger buffer and copies everything into
// it, so a model of several GiB would briefly need its size twice over. When
// the final size is known up front, reserving it once avoids that; the bytes
// of the finished buffer do not depend on how much room was reserved.
#pragma once

#include <cstdint>
#include <span>

#include <flatbuffers/flatbuffers.h>

#include "tool_builder.h"

namespace vadu::qdmstrip {

// Makes sure at least `bytes` more can be added without reallocating. The
// reserved memory stays untouched (and so not resident) until written.
void ReserveBuilderSpace(ToolBuilder &builder, uint64_t bytes);

// A 64-bit byte vector of `length` zero bytes, created in the builder like
// CreateVector64 would, whose bytes the caller fills in place.
struct InPlaceBytes64 {
  flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>> offset;
  std::span<uint8_t> bytes;
};
InPlaceBytes64 CreateZeroedVector64(ToolBuilder &builder, uint64_t length);

}  // namespace vadu::qdmstrip
