// The sub-models of a container being written, placed one after another by
// the raw-data alignment rule, and the container table built around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "qdms_generated.h"
#include "tool_builder.h"

namespace vadu::qdmstrip {

// One sub-model placed in the new blob. hash, align and name are those of the
// input container's header (align 0 stays 0 although placement used 64).
struct ModelHeaderMetadata {
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t hash = 0;
  uint32_t align = 0;
  std::string name;
};

// A finished sub-model buffer, held without copying it out of its builder.
using SubModelBuffer = flatbuffers::DetachedBuffer;

// The new model_data. The parts are kept apart until the container is built,
// so that the blob is never held twice over.
class ContainerBlob {
 public:
  // Where a sub-model aligned to `align` (64 when 0) would start now.
  uint64_t NextStart(uint32_t align) const;
  // Places `part` at `start` (at or after the current end; the gap is zero bytes).
  void Place(SubModelBuffer part, uint64_t start);
  uint64_t size() const { return size_; }

  // Creates the blob in `builder` as a 64-bit byte vector, releasing each part
  // once it is copied. Must be the first object of the builder.
  flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>> CreateIn(ToolBuilder &builder);

 private:
  struct Part {
    uint64_t start = 0;
    SubModelBuffer bytes;
  };
  std::vector<Part> parts_;
  uint64_t size_ = 0;
};

// Which of the container's value lists are written even when empty.
enum class EmptyValueLists { kLeftOut, kWritten };

// Builds the container around `blob`: the headers from `metadata`, and the
// devices, inputs, outputs, operations and attributes of `source` copied
// table by table. Finishes the buffer with "QDMS".
void AssembleContainer(ToolBuilder &builder, ContainerBlob &blob, const std::vector<ModelHeaderMetadata> &metadata,
                       const binary::Models &source, EmptyValueLists value_lists);

}  // namespace vadu::qdmstrip
