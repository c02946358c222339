#include "embedded_data.h"

#include "builder_space.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {

uint64_t EmbeddedData::Append(std::span<const uint8_t> bytes, uint32_t align) {
  const uint64_t offset = AlignedPosition(length_, align);
  pieces_.push_back({offset, bytes});
  length_ = SaturatingAdd(offset, bytes.size());
  return offset;
}

flatbuffers::Offset<flatbuffers::Vector<uint8_t>> EmbeddedData::CreateIn(ToolBuilder &builder,
                                                                         CopiedHook copied) const {
  if (length_ == 0) return 0;
  const InPlaceBytes data = CreateUnfilledVector(builder, static_cast<size_t>(length_));
  GapZeroingWriter writer(data.bytes);
  for (const Piece &piece : pieces_) {
    writer.Put(piece.offset, piece.bytes);
    if (copied != nullptr) copied(piece.bytes);
  }
  writer.Finish();
  return data.offset;
}

}  // namespace vadu::qdmstrip
