// The sub-models of a container being written, placed one after another by
// the raw-data alignment rule, and the container table built around them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "grow_only_memory.h"
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

// The new model_data, kept in one block of memory that the sub-model builders
// and then the container builder all work in, so that the sub-models never
// need a second buffer of the container's size: each sub-model is built just
// past the end of the blob and moved down to its start, and the container
// builder is given memory whose top end already holds the blob where the
// builder's first object, model_data, goes.
//
// Layout of the block: room for the container's other tables, then the blob.
//
// The block reserves more than it will write (room for the tables, builders
// that grow by half again), which costs nothing until written. So what is
// checked against the allocation limit is what will be written: the blob up
// to a sub-model's start, and that plus the room its builder is first
// reserved for, which its caller sizes to what the sub-model will hold.
class ContainerBlob {
 public:
  // `headroom`: room the container's tables beside model_data take (see
  // ContainerHeadroom); when they need more, the blob is copied once.
  explicit ContainerBlob(uint64_t headroom);
  ContainerBlob(const ContainerBlob &) = delete;
  ContainerBlob &operator=(const ContainerBlob &) = delete;

  // Where a sub-model aligned to `align` (64 when 0) would start now.
  uint64_t NextStart(uint32_t align) const;

  // A builder with the settings of MakeToolBuilder for the sub-model that is
  // to start at `start` (at or after the current end), working in the blob's
  // memory. Only one at a time: place it (or drop it) before asking for the next.
  ToolBuilder SubModelBuilder(uint64_t start);
  // Moves the finished buffer of the SubModelBuilder(start) builder to
  // `start`, zero bytes before it. The builder is spent afterwards.
  void Place(ToolBuilder &builder, uint64_t start);

  uint64_t size() const { return size_; }

  // A builder with the settings of MakeToolBuilder for the container, whose
  // first object must be the blob (CreateIn). Ask for it once all sub-models are placed.
  ToolBuilder ContainerBuilder();
  // Creates the blob in `builder` as a 64-bit byte vector: in place with a
  // ContainerBuilder() builder whose first reserve fit the headroom, copied otherwise.
  flatbuffers::Offset64<flatbuffers::Vector64<uint8_t>> CreateIn(ToolBuilder &builder);

 private:
  // Memory past the blob's end for one sub-model builder.
  class SubModelAllocator : public flatbuffers::Allocator {
   public:
    explicit SubModelAllocator(ContainerBlob &blob) : blob_(blob) {}
    void set_start(uint64_t start);
    uint8_t *allocate(size_t size) override;
    void deallocate(uint8_t *, size_t) override {}
    uint8_t *reallocate_downward(uint8_t *old_p, size_t old_size, size_t new_size, size_t in_use_back,
                                 size_t in_use_front) override;

   private:
    ContainerBlob &blob_;
    uint64_t start_ = 0;   // of the sub-model in the blob
    size_t position_ = 0;  // of the builder's memory in the block
  };

  // Memory whose top end is the blob's end (rounded up to 8), or the heap
  // when what is asked for does not fit below that.
  class ContainerAllocator : public flatbuffers::Allocator {
   public:
    explicit ContainerAllocator(ContainerBlob &blob) : blob_(blob) {}
    uint8_t *allocate(size_t size) override;
    void deallocate(uint8_t *p, size_t) override;
    uint8_t *reallocate_downward(uint8_t *old_p, size_t old_size, size_t new_size, size_t in_use_back,
                                 size_t in_use_front) override;

   private:
    ContainerBlob &blob_;
  };

  static constexpr const char *kPurpose = "the new container";

  size_t BlobTop() const;  // the blob's end, padded to 8, from the start of the block

  GrowOnlyMemory memory_{kPurpose};
  size_t headroom_ = 0;
  uint64_t size_ = 0;
  SubModelAllocator sub_model_allocator_{*this};
  ContainerAllocator container_allocator_{*this};
};

// Generous room for what a container built from `source` holds beside its
// sub-models: headers, devices, value lists, operations and attributes.
uint64_t ContainerHeadroom(const binary::Models &source);

// Which of the container's value lists are written even when empty.
enum class EmptyValueLists { kLeftOut, kWritten };

// Builds the container around `blob` in `builder` (from blob.ContainerBuilder()):
// the headers from `metadata`, and the devices, inputs, outputs, operations
// and attributes of `source` copied table by table. Finishes the buffer with "QDMS".
void AssembleContainer(ToolBuilder &builder, ContainerBlob &blob, const std::vector<ModelHeaderMetadata> &metadata,
                       const binary::Models &source, EmptyValueLists value_lists);

}  // namespace vadu::qdmstrip
