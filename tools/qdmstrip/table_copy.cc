#include "table_copy.h"

#include "copy_helpers.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
using copy_detail::CopyString;
using copy_detail::CopyVector;
using copy_detail::VectorOrNull;

// An AttrByte value can be copied only with its data and its dtype.
const vb::AttrByte *CopyableAttrByte(const vb::Attribute &attr) {
  const vb::AttrByte *value = attr.value_as_AttrByte();
  if (value == nullptr || value->data() == nullptr || value->dtype() == nullptr) return nullptr;
  return value;
}

flatbuffers::Offset<void> CopyAttrByte(ToolBuilder &builder, const vb::AttrByte &value) {
  auto data = CopyVector(builder, value.data());
  return vb::CreateAttrByte(builder, data, value.dtype()).Union();
}

// Attributes inside lists: the value goes first, then the name, then the table.
// Types other than str and AttrByte, and incomplete AttrByte values, are dropped.
flatbuffers::Offset<vb::Attribute> CopyListedAttribute(ToolBuilder &builder, const vb::Attribute &attr) {
  switch (attr.value_type()) {
    case vb::AttrValue_str: {
      auto value = CopyString(builder, attr.value_as_str());
      auto name = CopyString(builder, attr.name());
      return vb::CreateAttribute(builder, name, vb::AttrValue_str, value.Union());
    }
    case vb::AttrValue_AttrByte: {
      const vb::AttrByte *bytes = CopyableAttrByte(attr);
      if (bytes == nullptr) return 0;
      auto value = CopyAttrByte(builder, *bytes);
      auto name = CopyString(builder, attr.name());
      return vb::CreateAttribute(builder, name, vb::AttrValue_AttrByte, value);
    }
    default:
      return 0;
  }
}

template <typename Attrs>
OffsetList<vb::Attribute> CopyListedAttributes(ToolBuilder &builder, const Attrs &attrs) {
  OffsetList<vb::Attribute> result;
  for (const vb::Attribute *attr : attrs) {
    if (attr == nullptr) continue;
    auto copied = CopyListedAttribute(builder, *attr);
    if (!copied.IsNull()) result.push_back(copied);
  }
  return result;
}

flatbuffers::Offset<vb::TensorInfo> CreateCarriedTensor(ToolBuilder &builder, const vb::TensorInfo &tensor,
                                                        flatbuffers::Offset<flatbuffers::String> name,
                                                        flatbuffers::Offset<flatbuffers::Vector<int64_t>> shape,
                                                        flatbuffers::Offset<flatbuffers::Vector<int64_t>> stride,
                                                        flatbuffers::Offset<flatbuffers::Vector<int64_t>> block_layout) {
  return vb::CreateTensorInfo(builder, tensor.format(), tensor.dtype(), name, shape, tensor.size(), stride,
                              block_layout);
}

// Model inputs and outputs write their vectors before the name.
OffsetList<vb::TensorInfo> CopyTensorList(ToolBuilder &builder,
                                          const flatbuffers::Vector<flatbuffers::Offset<vb::TensorInfo>> *tensors) {
  OffsetList<vb::TensorInfo> result;
  if (tensors == nullptr) return result;
  for (const vb::TensorInfo *tensor : *tensors) {
    auto shape = CopyVector(builder, tensor->shape());
    auto stride = CopyVector(builder, tensor->stride());
    auto block_layout = CopyVector(builder, tensor->block_layout());
    auto name = CopyString(builder, tensor->name());
    result.push_back(CreateCarriedTensor(builder, *tensor, name, shape, stride, block_layout));
  }
  return result;
}

flatbuffers::Offset<vb::BinaryHeader> CopyHeader(ToolBuilder &builder, const vb::BinaryHeader &header) {
  auto name = CopyString(builder, header.name());
  return vb::CreateBinaryHeader(builder, header.size(), header.offset(), header.hash(), header.align(), name);
}

// Offsets are kept as they are, so a RAW_OFFSET kernel blob still addresses the same raw-data bytes.
flatbuffers::Offset<vb::Binary> CopyKernelBlob(ToolBuilder &builder, const vb::Binary &blob) {
  auto data = CopyVector(builder, blob.data());
  OffsetList<vb::BinaryHeader> headers;
  if (blob.headers() != nullptr) {
    for (const vb::BinaryHeader *header : *blob.headers()) headers.push_back(CopyHeader(builder, *header));
  }
  auto header_vector = VectorOrNull(builder, headers);
  OffsetList<vb::Attribute> attrs;
  if (blob.attrs() != nullptr) attrs = CopyListedAttributes(builder, *blob.attrs());
  auto attr_vector = VectorOrNull(builder, attrs);
  auto name = CopyString(builder, blob.name());
  return vb::CreateBinary(builder, data, header_vector, blob.type(), name, attr_vector);
}

}  // namespace

OffsetList<vb::Attribute> TableCopy::CollectAttrs(ToolBuilder &builder, const vb::Model *model) {
  if (model == nullptr || model->attrs() == nullptr) return {};
  return CopyListedAttributes(builder, *model->attrs());
}

OffsetList<vb::Attribute> TableCopy::CollectBinaryAttrs(ToolBuilder &builder,
                                                        const std::vector<const vb::Attribute *> &attrs) {
  return CopyListedAttributes(builder, attrs);
}

OffsetList<vb::TensorQuant> TableCopy::CollectQuantInfo(ToolBuilder &builder, const vb::Model *model) {
  OffsetList<vb::TensorQuant> result;
  if (model == nullptr || model->quant_info() == nullptr) return result;
  for (const vb::TensorQuant *quant : *model->quant_info()) {
    auto scale = CopyVector(builder, quant->scale());
    auto zero_point = CopyVector(builder, quant->zero_point());
    auto block_shape = CopyVector(builder, quant->block_shape());
    auto name = CopyString(builder, quant->name());
    result.push_back(
        vb::CreateTensorQuant(builder, name, scale, zero_point, block_shape, quant->min(), quant->max()));
  }
  return result;
}

OffsetList<vb::Binary> TableCopy::CollectKernels(ToolBuilder &builder, const vb::Model *model) {
  OffsetList<vb::Binary> result;
  if (model == nullptr || model->kernels() == nullptr) return result;
  for (const vb::Binary *blob : *model->kernels()) result.push_back(CopyKernelBlob(builder, *blob));
  return result;
}

OffsetList<vb::TensorInfo> TableCopy::CollectInputs(ToolBuilder &builder, const vb::Model *model) {
  if (model == nullptr) return {};
  return CopyTensorList(builder, model->inputs());
}

OffsetList<vb::TensorInfo> TableCopy::CollectOutputs(ToolBuilder &builder, const vb::Model *model) {
  if (model == nullptr) return {};
  return CopyTensorList(builder, model->outputs());
}

flatbuffers::Offset<vb::ModelConfig> TableCopy::CollectConfig(ToolBuilder &builder, const vb::Model *model) {
  if (model == nullptr || model->config() == nullptr) return 0;
  const vb::ModelConfig &c = *model->config();
  return vb::CreateModelConfig(builder, c.args_num(), c.core_num(), c.tile_num(), c.option_word(), c.option_flag_a(),
                               c.option_flag_b(), c.option_flag_c(), c.batch_num(), c.pack_inout());
}

flatbuffers::Offset<vb::Attribute> TableCopy::CollectAttribute(ToolBuilder &builder, const vb::Attribute *attr) {
  if (attr == nullptr) return 0;
  auto name = CopyString(builder, attr->name());
  switch (attr->value_type()) {
    case vb::AttrValue_str: {
      auto value = CopyString(builder, attr->value_as_str());
      return vb::CreateAttribute(builder, name, vb::AttrValue_str, value.Union());
    }
    case vb::AttrValue_AttrByte: {
      const vb::AttrByte *bytes = CopyableAttrByte(*attr);
      if (bytes == nullptr) return 0;
      auto value = CopyAttrByte(builder, *bytes);
      return vb::CreateAttribute(builder, name, vb::AttrValue_AttrByte, value);
    }
    default:
      return 0;
  }
}

flatbuffers::Offset<vb::TensorInfo> TableCopy::CollectTensorInfo(ToolBuilder &builder, const vb::TensorInfo *tensor) {
  if (tensor == nullptr) return 0;
  auto name = CopyString(builder, tensor->name());
  auto shape = CopyVector(builder, tensor->shape());
  auto stride = CopyVector(builder, tensor->stride());
  auto block_layout = CopyVector(builder, tensor->block_layout());
  return CreateCarriedTensor(builder, *tensor, name, shape, stride, block_layout);
}

}  // namespace vadu::qdmstrip
