#include "container_blob.h"

#include "builder_space.h"
#include "table_copy.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;

constexpr uint64_t kGraphSlack = 1 << 20;

template <typename T>
fb::Offset<fb::Vector<fb::Offset<T>>> VectorOf(ToolBuilder &builder, const OffsetList<T> &offsets,
                                               EmptyValueLists empty) {
  if (offsets.empty() && empty == EmptyValueLists::kLeftOut) return 0;
  return builder.CreateVector(offsets);
}

// Rough size of what the container holds beside its sub-models, so that the
// builder does not copy the blob while it grows.
uint64_t GraphReserve(const vb::Models &source) {
  const auto *headers = source.model_headers();
  uint64_t count = headers != nullptr ? headers->size() : 0;
  if (source.operations() != nullptr) count += source.operations()->size();
  if (source.inputs() != nullptr) count += source.inputs()->size();
  if (source.outputs() != nullptr) count += source.outputs()->size();
  return kGraphSlack + count * 1024;
}

}  // namespace

uint64_t ContainerBlob::NextStart(uint32_t align) const { return AlignedPosition(size_, align); }

void ContainerBlob::Place(SubModelBuffer part, uint64_t start) {
  size_ = start + part.size();
  parts_.push_back({start, std::move(part)});
}

fb::Offset64<fb::Vector64<uint8_t>> ContainerBlob::CreateIn(ToolBuilder &builder) {
  // The builder fills from the back: the last part goes in first, each
  // followed (in the blob) by the zero bytes up to the next part.
  builder.StartVector<uint8_t, fb::Offset64, uint64_t>(size_);
  uint64_t next = size_;
  for (auto part = parts_.rbegin(); part != parts_.rend(); ++part) {
    builder.Pad(next - (part->start + part->bytes.size()));
    builder.PushBytes(part->bytes.data(), part->bytes.size());
    next = part->start;
    part->bytes = SubModelBuffer();
  }
  builder.Pad(next);
  parts_.clear();
  return fb::Offset64<fb::Vector64<uint8_t>>(builder.EndVector<uint64_t, fb::uoffset64_t>(size_));
}

void AssembleContainer(ToolBuilder &builder, ContainerBlob &blob, const std::vector<ModelHeaderMetadata> &metadata,
                       const vb::Models &source, EmptyValueLists value_lists) {
  ToolBuilder &b = builder;
  ReserveBuilderSpace(b, blob.size() + GraphReserve(source));
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
