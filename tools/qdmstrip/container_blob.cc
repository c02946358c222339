#include "container_blob.h"

#include <cassert>
#include <cstring>

#include "allocation_failure.h"
#include "builder_space.h"
#include "table_copy.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;

// Only address space until written, so it can be generous.
constexpr uint64_t kGraphSlack = 16 << 20;
constexpr uint64_t kPage = 4096;

template <typename T>
fb::Offset<fb::Vector<fb::Offset<T>>> VectorOf(ToolBuilder &builder, const OffsetList<T> &offsets,
                                               EmptyValueLists empty) {
  if (offsets.empty() && empty == EmptyValueLists::kLeftOut) return 0;
  return builder.CreateVector(offsets);
}

size_t RoundUp(uint64_t value, uint64_t multiple) {
  return static_cast<size_t>((value + multiple - 1) / multiple * multiple);
}

}  // namespace

uint64_t ContainerHeadroom(const vb::Models &source) {
  const auto *headers = source.model_headers();
  uint64_t count = headers != nullptr ? headers->size() : 0;
  if (source.operations() != nullptr) count += source.operations()->size();
  if (source.inputs() != nullptr) count += source.inputs()->size();
  if (source.outputs() != nullptr) count += source.outputs()->size();
  return kGraphSlack + count * 4096;
}

ContainerBlob::ContainerBlob(uint64_t headroom) : headroom_(RoundUp(headroom, kPage)) {}

uint64_t ContainerBlob::NextStart(uint32_t align) const { return AlignedPosition(size_, align); }

size_t ContainerBlob::BlobTop() const { return headroom_ + RoundUp(size_, 8); }

ToolBuilder ContainerBlob::SubModelBuilder(uint64_t start) {
  assert(start >= size_);
  // The room up to the start, taken now: a start that large alignments pushed
  // beyond what can be had fails here, before a position is worked out from it.
  CheckAllocation(start, kPurpose);
  memory_.Reserve(SaturatingAdd(headroom_, start));
  sub_model_allocator_.set_start(start);
  return MakeToolBuilder(&sub_model_allocator_);
}

void ContainerBlob::Place(ToolBuilder &builder, uint64_t start) {
  uint8_t *blob = memory_.data() + headroom_;
  const size_t size = builder.GetSize();
  assert(start >= size_ && builder.GetBufferPointer() >= blob + start);
  std::memset(blob + size_, 0, static_cast<size_t>(start - size_));
  std::memmove(blob + start, builder.GetBufferPointer(), size);
  size_ = start + size;
}

ToolBuilder ContainerBlob::ContainerBuilder() {
  ToolBuilder builder = MakeToolBuilder(&container_allocator_);
  // All of the block up to the blob's end: the blob lies at the top, where
  // the first vector goes. The blob was checked as it grew; the rest is room.
  EnsureBuilderSpace(builder, BlobTop());
  return builder;
}

fb::Offset64<fb::Vector64<uint8_t>> ContainerBlob::CreateIn(ToolBuilder &builder) {
  const InPlaceBytes64 model_data = CreateUnfilledVector64(builder, size_);
  if (size_ != 0) {
    const uint8_t *blob = memory_.data() + headroom_;
    if (model_data.bytes.data() != blob) std::memmove(model_data.bytes.data(), blob, static_cast<size_t>(size_));
  }
  return model_data.offset;
}

void ContainerBlob::SubModelAllocator::set_start(uint64_t start) {
  start_ = start;
  // At a multiple of 8, so that the sub-model is as aligned in memory as in a
  // buffer of its own while it is checked.
  position_ = blob_.headroom_ + RoundUp(start, 8);
}

// A builder's first memory: the room its caller reserved for what it will
// hold. What it grows by later (half as much again) is not checked.
uint8_t *ContainerBlob::SubModelAllocator::allocate(size_t size) {
  CheckAllocation(SaturatingAdd(start_, size), kPurpose);
  blob_.memory_.Reserve(position_ + size);
  return blob_.memory_.data() + position_;
}

// Grows upwards in place (the block may move as a whole): the used back end
// moves up to the new top, the scratch at the front stays where it is.
uint8_t *ContainerBlob::SubModelAllocator::reallocate_downward(uint8_t *, size_t old_size, size_t new_size,
                                                               size_t in_use_back, size_t) {
  blob_.memory_.Reserve(position_ + new_size);
  uint8_t *p = blob_.memory_.data() + position_;
  std::memmove(p + new_size - in_use_back, p + old_size - in_use_back, in_use_back);
  return p;
}

uint8_t *ContainerBlob::ContainerAllocator::allocate(size_t size) {
  const size_t top = blob_.BlobTop();
  blob_.memory_.Reserve(top);
  if (size <= top) return blob_.memory_.data() + top - size;
  return new uint8_t[size];
}

void ContainerBlob::ContainerAllocator::deallocate(uint8_t *p, size_t) {
  if (!blob_.memory_.Contains(p)) delete[] p;
}

// The block cannot grow below its start: a bigger buffer comes from the heap.
uint8_t *ContainerBlob::ContainerAllocator::reallocate_downward(uint8_t *old_p, size_t old_size, size_t new_size,
                                                                size_t in_use_back, size_t in_use_front) {
  auto *p = new uint8_t[new_size];
  std::memcpy(p + new_size - in_use_back, old_p + old_size - in_use_back, in_use_back);
  std::memcpy(p, old_p, in_use_front);
  deallocate(old_p, old_size);
  return p;
}

void AssembleContainer(ToolBuilder &builder, ContainerBlob &blob, const std::vector<ModelHeaderMetadata> &metadata,
                       const vb::Models &source, EmptyValueLists value_lists) {
  ToolBuilder &b = builder;
  const auto model_data = blob.CreateIn(b);

  OffsetList<vb::BinaryHeader> headers;
  for (const ModelHeaderMetadata &m : metadata) {
    fb::Offset<fb::String> name = m.name.empty() ? 0 : b.CreateString(m.name);
    headers.push_back(vb::CreateBinaryHeader(b, m.size, m.offset, m.hash, m.align, name));
  }
  const OffsetList<vb::ModelDevice> devices = TableCopy::CollectModelDevices(b, source.devices());
  const OffsetList<vb::ValueDef> inputs = TableCopy::CollectValueDefs(b, source.inputs());
  const OffsetList<vb::ValueDef> outputs = TableCopy::CollectValueDefs(b, source.outputs());
  OffsetList<vb::Operation> operations;
  if (source.operations() != nullptr) {
    for (const vb::Operation *op : *source.operations()) {
      const auto copy = TableCopy::CollectOperation(b, op);
      if (!copy.IsNull()) operations.push_back(copy);
    }
  }
  OffsetList<vb::Attribute> attrs;
  if (source.attrs() != nullptr) {
    for (const vb::Attribute *attr : *source.attrs()) {
      const auto copy = TableCopy::CollectAttribute(b, attr);
      if (!copy.IsNull()) attrs.push_back(copy);
    }
  }

  constexpr EmptyValueLists kLeftOut = EmptyValueLists::kLeftOut;
  const auto header_vector = VectorOf(b, headers, kLeftOut);
  const auto device_vector = VectorOf(b, devices, kLeftOut);
  const auto input_vector = VectorOf(b, inputs, value_lists);
  const auto output_vector = VectorOf(b, outputs, value_lists);
  const auto operation_vector = VectorOf(b, operations, kLeftOut);
  const auto attr_vector = VectorOf(b, attrs, kLeftOut);

  vb::ModelsBuilder models(b);
  models.add_model_data(model_data);
  if (!attr_vector.IsNull()) models.add_attrs(attr_vector);
  if (!operation_vector.IsNull()) models.add_operations(operation_vector);
  if (!output_vector.IsNull()) models.add_outputs(output_vector);
  if (!input_vector.IsNull()) models.add_inputs(input_vector);
  if (!device_vector.IsNull()) models.add_devices(device_vector);
  if (!header_vector.IsNull()) models.add_model_headers(header_vector);
  vb::FinishModelsBuffer(b, models.Finish());
}

}  // namespace vadu::qdmstrip
