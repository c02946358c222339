// WeightToolBase::BuildWriteVerify: the last stage of both single-model modes.
#include <iostream>

#include "allocation_failure.h"
#include "copy_helpers.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

constexpr uint64_t kDefaultMagic = 0x546F6C7665783338ull;  // "Tolvex38"
constexpr uint64_t kTablesSlack = 1 << 20;

uint64_t SaturatingSub(uint64_t a, uint64_t b) { return a > b ? a - b : 0; }

flatbuffers::Offset<flatbuffers::Vector<const vb::Buffer *>> CopyWorkspace(ToolBuilder &builder,
                                                                            const vb::Model &source) {
  const auto *workspace = source.workspace();
  if (workspace == nullptr || workspace->size() == 0) return 0;
  // Element size 24, alignment 8: the structs are copied whole.
  return builder.CreateVectorOfStructs(reinterpret_cast<const vb::Buffer *>(workspace->Data()), workspace->size());
}

// A source without a version record gets one with both defaults.
flatbuffers::Offset<vb::ModelVersion> CopyVersion(ToolBuilder &builder, const vb::Model &source) {
  const vb::ModelVersion *version = source.model_version();
  vb::ModelVersionBuilder table(builder);
  table.add_version(version != nullptr ? version->version() : 0);
  table.add_magic(version != nullptr ? version->magic() : kDefaultMagic);
  return table.Finish();
}

}  // namespace

uint64_t WeightToolBase::CopiedTablesRoom(const vb::Model &source, uint64_t file_size) {
  uint64_t tables = SaturatingSub(file_size, source.raw_data() != nullptr ? source.raw_data()->size() : 0);
  if (source.weights() != nullptr) {
    // Binaries may share one data vector, so the sum may pass the file's size.
    for (const vb::Binary *blob : *source.weights()) {
      if (blob->data() != nullptr) tables = SaturatingSub(tables, blob->data()->size());
    }
  }
  return SaturatingAdd(SaturatingAdd(tables, tables), kTablesSlack);
}

bool WeightToolBase::BuildWriteVerify(const vb::Model &source, const OffsetList<vb::Binary> &weights,
                                      RawDataOffset raw_data, const std::string &output_path) {
  std::cout << "[INFO] Creating Model...\n";
  ToolBuilder &b = builder_;
  auto kernels = b.CreateVector(CollectKernels(b, &source));
  auto weight_vector = copy_detail::VectorOrNull(b, weights);
  auto workspace = CopyWorkspace(b, source);
  auto inputs = b.CreateVector(CollectInputs(b, &source));
  auto outputs = b.CreateVector(CollectOutputs(b, &source));
  auto quant_info = b.CreateVector(CollectQuantInfo(b, &source));
  auto attrs = b.CreateVector(CollectAttrs(b, &source));
  auto version = CopyVersion(b, source);
  auto config = CollectConfig(b, &source);
  auto custom_msg = copy_detail::CopyString(b, source.custom_msg());
  auto name = copy_detail::CopyString(b, source.name());

  vb::ModelBuilder model(b);
  // The 64-bit offset goes in first, as the generated create function does.
  if (!raw_data.IsNull()) model.add_raw_data(raw_data);
  model.add_model_version(version);
  if (!name.IsNull()) model.add_name(name);
  if (!custom_msg.IsNull()) model.add_custom_msg(custom_msg);
  model.add_kernels(kernels);
  if (!weight_vector.IsNull()) model.add_weights(weight_vector);
  if (!workspace.IsNull()) model.add_workspace(workspace);
  model.add_inputs(inputs);
  model.add_outputs(outputs);
  model.add_quant_info(quant_info);
  if (!config.IsNull()) model.add_config(config);
  model.add_attrs(attrs);
  vb::FinishModelBuffer(b, model.Finish());

  if (WriteBufferToFile(b.GetBufferPointer(), b.GetSize(), output_path, "Model Write") != 0) {
    std::cerr << "[ERROR] Failed to write model to: " << output_path << "\n";
    return false;
  }
  if (VerifyModel(output_path) != 0) {
    std::cerr << "[ERROR] Verification failed for: " << output_path << "\n";
    return false;
  }
  return true;
}

}  // namespace vadu::qdmstrip
