// The container graph part of the table copy: devices, values, operations
// and their operation-specific attributes.
#include "copy_helpers.h"
#include "table_copy.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
using copy_detail::CopyString;
using copy_detail::CopyVector;
using copy_detail::VectorOrNull;

template <typename Attrs>
OffsetList<vb::Attribute> CopyAttributes(ToolBuilder &builder, const Attrs *attrs) {
  OffsetList<vb::Attribute> result;
  if (attrs == nullptr) return result;
  for (const vb::Attribute *attr : *attrs) {
    auto copied = TableCopy::CollectAttribute(builder, attr);
    if (!copied.IsNull()) result.push_back(copied);
  }
  return result;
}

flatbuffers::Offset<vb::SubTensor> CopySubTensor(ToolBuilder &builder, const vb::SubTensor &sub) {
  auto info = TableCopy::CollectTensorInfo(builder, sub.info());
  auto rois = CopyVector(builder, sub.rois());
  return vb::CreateSubTensor(builder, info, rois, sub.dev_id());
}

flatbuffers::Offset<vb::TensorQuant> CopyBlockQuant(ToolBuilder &builder, const vb::TensorQuant &quant) {
  auto block_shape = CopyVector(builder, quant.block_shape());
  auto zero_point = CopyVector(builder, quant.zero_point());
  auto scale = CopyVector(builder, quant.scale());
  auto name = CopyString(builder, quant.name());
  return vb::CreateTensorQuant(builder, name, scale, zero_point, block_shape, quant.min(), quant.max());
}

flatbuffers::Offset<vb::FuncBlockAttribute> CopyFuncBlock(ToolBuilder &builder, const vb::FuncBlockAttribute &func) {
  OffsetList<vb::TensorQuant> quants;
  if (func.quant_infos() != nullptr) {
    for (const vb::TensorQuant *quant : *func.quant_infos()) quants.push_back(CopyBlockQuant(builder, *quant));
  }
  auto quant_vector = VectorOrNull(builder, quants);
  OffsetList<flatbuffers::String> names;
  if (func.quant_names() != nullptr) {
    for (const flatbuffers::String *name : *func.quant_names()) names.push_back(CopyString(builder, name));
  }
  auto name_vector = VectorOrNull(builder, names);
  return vb::CreateFuncBlockAttribute(builder, func.dim(), quant_vector, name_vector);
}

// The inner type byte is carried as the source has it; only members of the
// schema that have a value get one.
flatbuffers::Offset<vb::BlockAttribute> CopyBlock(ToolBuilder &builder, const vb::BlockAttribute &block) {
  flatbuffers::Offset<void> inner = 0;
  if (const auto *parallel = block.block_attr_as_ParallelBlockAttribute()) {
    inner = vb::CreateParallelBlockAttribute(builder, parallel->dev_id()).Union();
  } else if (const auto *func = block.block_attr_as_FuncBlockAttribute()) {
    inner = CopyFuncBlock(builder, *func).Union();
  }
  return vb::CreateBlockAttribute(builder, block.block_type(), block.block_attr_type(), inner);
}

flatbuffers::Offset<vb::LaunchAttribute> CopyLaunch(ToolBuilder &builder, const vb::LaunchAttribute &launch) {
  // The group mask and group id are not carried; the copy reads the id as its default.
  auto kernel_name = CopyString(builder, launch.kernel_name());
  vb::LaunchAttributeBuilder table(builder);
  if (!kernel_name.IsNull()) table.add_kernel_name(kernel_name);
  table.add_kernel_indx(launch.kernel_indx());
  return table.Finish();
}

}  // namespace

OffsetList<vb::ModelDevice> TableCopy::CollectModelDevices(
    ToolBuilder &builder, const flatbuffers::Vector<flatbuffers::Offset<vb::ModelDevice>> *devices) {
  OffsetList<vb::ModelDevice> result;
  if (devices == nullptr) return result;
  for (const vb::ModelDevice *device : *devices) {
    auto backend_name = CopyString(builder, device->backend_name());
    result.push_back(vb::CreateModelDevice(builder, backend_name, device->device_id()));
  }
  return result;
}

flatbuffers::Offset<vb::ValueDef> TableCopy::CollectValueDef(ToolBuilder &builder, const vb::ValueDef *value) {
  if (value == nullptr) return 0;
  auto info = CollectTensorInfo(builder, value->info());
  auto attrs = VectorOrNull(builder, CopyAttributes(builder, value->attrs()));
  OffsetList<vb::SubTensor> subs;
  if (value->sub_dev_tensors() != nullptr) {
    for (const vb::SubTensor *sub : *value->sub_dev_tensors()) subs.push_back(CopySubTensor(builder, *sub));
  }
  auto sub_vector = VectorOrNull(builder, subs);
  return vb::CreateValueDef(builder, info, value->dev_type(), attrs, sub_vector);
}

OffsetList<vb::ValueDef> TableCopy::CollectValueDefs(
    ToolBuilder &builder, const flatbuffers::Vector<flatbuffers::Offset<vb::ValueDef>> *values) {
  OffsetList<vb::ValueDef> result;
  if (values == nullptr) return result;
  for (const vb::ValueDef *value : *values) {
    auto copied = CollectValueDef(builder, value);
    if (!copied.IsNull()) result.push_back(copied);
  }
  return result;
}

flatbuffers::Offset<void> TableCopy::CollectSpecificAttribute(ToolBuilder &builder, const vb::Operation *op,
                                                              vb::SpecificAttribute &type) {
  type = vb::SpecificAttribute_NONE;
  if (op == nullptr) return 0;
  const vb::SpecificAttribute source_type = op->spec_attr_type();
  // A sync attribute needs no value to be rebuilt; every other member does.
  if (source_type == vb::SpecificAttribute_SyncAttribute) {
    type = source_type;
    return vb::CreateSyncAttribute(builder).Union();
  }
  flatbuffers::Offset<void> value = 0;
  if (const auto *parallel = op->spec_attr_as_ParallelAttribute()) {
    value = vb::CreateParallelAttribute(builder, CopyVector(builder, parallel->axes())).Union();
  } else if (const auto *launch = op->spec_attr_as_LaunchAttribute()) {
    value = CopyLaunch(builder, *launch).Union();
  } else if (const auto *gather = op->spec_attr_as_AllGatherAttribute()) {
    value = vb::CreateAllGatherAttribute(builder, gather->dim()).Union();
  } else if (const auto *sub = op->spec_attr_as_SubTensorAttribute()) {
    value = vb::CreateSubTensorAttribute(builder, sub->dev_id()).Union();
  } else if (const auto *block = op->spec_attr_as_BlockAttribute()) {
    value = CopyBlock(builder, *block).Union();
  }
  if (!value.IsNull()) type = source_type;
  return value;
}

flatbuffers::Offset<vb::Operation> TableCopy::CollectOperation(ToolBuilder &builder, const vb::Operation *op) {
  if (op == nullptr) return 0;
  auto oprands = VectorOrNull(builder, CollectValueDefs(builder, op->oprands()));
  auto results = VectorOrNull(builder, CollectValueDefs(builder, op->results()));
  auto attrs = VectorOrNull(builder, CopyAttributes(builder, op->attrs()));
  vb::SpecificAttribute type = vb::SpecificAttribute_NONE;
  auto spec_attr = CollectSpecificAttribute(builder, op, type);
  vb::OperationBuilder table(builder);
  table.add_op_type(op->op_type());
  if (!oprands.IsNull()) table.add_oprands(oprands);
  if (!results.IsNull()) table.add_results(results);
  if (!attrs.IsNull()) table.add_attrs(attrs);
  if (type != vb::SpecificAttribute_NONE) table.add_spec_attr_type(type);
  if (!spec_attr.IsNull()) table.add_spec_attr(spec_attr);
  return table.Finish();
}

}  // namespace vadu::qdmstrip
