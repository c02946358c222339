// The new data of an embedded (not RAW_OFFSET) Binary while it is rebuilt:
// each header's bytes at the next multiple of its alignment, gaps zero. The
// header tables enter the builder before the data vector, so the pieces are
// only noted while the headers are rebuilt and then copied once, straight
// into the data vector.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "tool_builder.h"

namespace vadu::qdmstrip {

class EmbeddedData {
 public:
  // Called with each piece once it has been copied.
  using CopiedHook = void (*)(std::span<const uint8_t> bytes);

  // Notes `bytes` (which must stay valid until CreateIn) at the next multiple
  // of `align` (64 when 0) and returns that offset.
  uint64_t Append(std::span<const uint8_t> bytes, uint32_t align);
  uint64_t size() const { return length_; }

  // The data as a byte vector in `builder`, or null when there are no bytes.
  flatbuffers::Offset<flatbuffers::Vector<uint8_t>> CreateIn(ToolBuilder &builder, CopiedHook copied = nullptr) const;

 private:
  struct Piece {
    uint64_t offset = 0;
    std::span<const uint8_t> bytes;
  };
  std::vector<Piece> pieces_;
  uint64_t length_ = 0;
};

}  // namespace vadu::qdmstrip
