// Table-by-table copy of a verified source buffer into a tool's builder.
// Every member builds children before their parent, so it must be called
// while no table is under construction. Unchanged tables are copied
// faithfully except where noted: some fields are not carried, and union
// members outside the schema or without their required parts are dropped.
#pragma once

#include <vector>

#include "qdms_generated.h"
#include "tool_builder.h"

namespace vadu::qdmstrip {

template <typename T>
using OffsetList = std::vector<flatbuffers::Offset<T>>;

class TableCopy {
 public:
  // ---- single model ----
  static OffsetList<binary::Attribute> CollectAttrs(ToolBuilder &builder, const binary::Model *model);
  static OffsetList<binary::TensorQuant> CollectQuantInfo(ToolBuilder &builder, const binary::Model *model);
  static OffsetList<binary::Binary> CollectKernels(ToolBuilder &builder, const binary::Model *model);
  static OffsetList<binary::TensorInfo> CollectInputs(ToolBuilder &builder, const binary::Model *model);
  static OffsetList<binary::TensorInfo> CollectOutputs(ToolBuilder &builder, const binary::Model *model);
  // Null when the model or its config is absent; a present config always yields a table.
  static flatbuffers::Offset<binary::ModelConfig> CollectConfig(ToolBuilder &builder, const binary::Model *model);
  // The attributes of one weight Binary; null entries are skipped.
  static OffsetList<binary::Attribute> CollectBinaryAttrs(ToolBuilder &builder,
                                                          const std::vector<const binary::Attribute *> &attrs);

  // ---- single tables, shared with the container graph ----
  // Null for an attribute that cannot be copied (its name string stays written).
  static flatbuffers::Offset<binary::Attribute> CollectAttribute(ToolBuilder &builder, const binary::Attribute *attr);
  // Carries format, dtype, name, shape, size, stride and block_layout only.
  static flatbuffers::Offset<binary::TensorInfo> CollectTensorInfo(ToolBuilder &builder,
                                                                   const binary::TensorInfo *tensor);

  // ---- container graph ----
  static OffsetList<binary::ModelDevice> CollectModelDevices(
      ToolBuilder &builder, const flatbuffers::Vector<flatbuffers::Offset<binary::ModelDevice>> *devices);
  static flatbuffers::Offset<binary::ValueDef> CollectValueDef(ToolBuilder &builder, const binary::ValueDef *value);
  static OffsetList<binary::ValueDef> CollectValueDefs(
      ToolBuilder &builder, const flatbuffers::Vector<flatbuffers::Offset<binary::ValueDef>> *values);
  // Builds the operation's union value (or nothing) and sets `type` to what was built.
  static flatbuffers::Offset<void> CollectSpecificAttribute(ToolBuilder &builder, const binary::Operation *op,
                                                            binary::SpecificAttribute &type);
  static flatbuffers::Offset<binary::Operation> CollectOperation(ToolBuilder &builder, const binary::Operation *op);
};

}  // namespace vadu::qdmstrip
