#include "sub_model_finish.h"

#include <cstring>

#include "copy_helpers.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

constexpr uint64_t kDefaultMagic = 0x546F6C7665783338ull;  // "Tolvex38"

constexpr uint64_t kBaseRoom = 1 << 16;
constexpr uint64_t kRoomPerTable = 512;

template <typename T>
uint64_t CountOf(const flatbuffers::Vector<T> *v) {
  return v != nullptr ? v->size() : 0;
}

enum class BinaryData { kCopied, kLaidOutByCaller };

// A table's worth of room per Binary, header and attribute, and the Binaries'
// own data where it is copied as it is.
uint64_t BinariesRoom(const flatbuffers::Vector<flatbuffers::Offset<vb::Binary>> *binaries, BinaryData data) {
  uint64_t room = 0;
  if (binaries == nullptr) return room;
  for (const vb::Binary *blob : *binaries) {
    room += kRoomPerTable + CountOf(blob->headers()) * kRoomPerTable + CountOf(blob->attrs()) * kRoomPerTable;
    if (data == BinaryData::kCopied) room += CountOf(blob->data());
  }
  return room;
}

uint64_t AttributesRoom(const flatbuffers::Vector<flatbuffers::Offset<vb::Attribute>> *attrs) {
  uint64_t room = 0;
  if (attrs == nullptr) return room;
  for (const vb::Attribute *attr : *attrs) {
    room += kRoomPerTable;
    if (const vb::AttrByte *bytes = attr->value_as_AttrByte()) room += CountOf(bytes->data());
  }
  return room;
}

}  // namespace

uint64_t EstimateCopiedTables(const vb::Model &source) {
  // The weights' bytes are left out: the callers lay them out anew and count what they write.
  uint64_t room = kBaseRoom + BinariesRoom(source.kernels(), BinaryData::kCopied) +
                  BinariesRoom(source.weights(), BinaryData::kLaidOutByCaller);
  room += (CountOf(source.inputs()) + CountOf(source.outputs()) + CountOf(source.workspace())) * kRoomPerTable;
  if (source.quant_info() != nullptr) {
    for (const vb::TensorQuant *quant : *source.quant_info()) {
      room += kRoomPerTable + 4 * (CountOf(quant->scale()) + CountOf(quant->zero_point())) +
              8 * CountOf(quant->block_shape());
    }
  }
  return room + AttributesRoom(source.attrs());
}

flatbuffers::Offset<vb::ModelVersion> CopyModelVersion(ToolBuilder &builder, const vb::Model &source) {
  const vb::ModelVersion *version = source.model_version();
  vb::ModelVersionBuilder table(builder);
  table.add_version(version != nullptr ? version->version() : 0);
  table.add_magic(version != nullptr ? version->magic() : kDefaultMagic);
  return table.Finish();
}

void FinishSubModel(ToolBuilder &builder, const vb::Model &source, RawDataOffset raw_data,
                    flatbuffers::Offset<vb::ModelVersion> version, const OffsetList<vb::Binary> &weights) {
  ToolBuilder &b = builder;
  const OffsetList<vb::Binary> kernels = TableCopy::CollectKernels(b, &source);
  std::vector<vb::Buffer> workspace;
  if (source.workspace() != nullptr && source.workspace()->size() != 0) {
    // Copied byte-wise: the verifier does not check the alignment of structs in a vector.
    workspace.resize(source.workspace()->size());
    std::memcpy(workspace.data(), source.workspace()->Data(), workspace.size() * sizeof(vb::Buffer));
  }
  const OffsetList<vb::TensorInfo> inputs = TableCopy::CollectInputs(b, &source);
  const OffsetList<vb::TensorInfo> outputs = TableCopy::CollectOutputs(b, &source);
  const OffsetList<vb::TensorQuant> quant_info = TableCopy::CollectQuantInfo(b, &source);
  const auto config = TableCopy::CollectConfig(b, &source);
  const OffsetList<vb::Attribute> attrs = TableCopy::CollectAttrs(b, &source);

  const auto attr_vector = b.CreateVector(attrs);
  const auto quant_vector = b.CreateVector(quant_info);
  const auto output_vector = b.CreateVector(outputs);
  const auto input_vector = b.CreateVector(inputs);
  const auto workspace_vector = b.CreateVectorOfStructs(workspace);
  const auto weight_vector = b.CreateVector(weights);
  const auto kernel_vector = b.CreateVector(kernels);
  const auto custom_msg = copy_detail::CopyString(b, source.custom_msg());
  const auto name = copy_detail::CopyString(b, source.name());

  vb::ModelBuilder model(b);
  model.add_raw_data(raw_data);
  model.add_attrs(attr_vector);
  if (!config.IsNull()) model.add_config(config);
  model.add_quant_info(quant_vector);
  model.add_outputs(output_vector);
  model.add_inputs(input_vector);
  model.add_workspace(workspace_vector);
  model.add_weights(weight_vector);
  model.add_kernels(kernel_vector);
  if (!custom_msg.IsNull()) model.add_custom_msg(custom_msg);
  if (!name.IsNull()) model.add_name(name);
  model.add_model_version(version);
  vb::FinishModelBuffer(b, model.Finish());
}

}  // namespace vadu::qdmstrip
