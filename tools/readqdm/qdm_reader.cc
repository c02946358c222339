#include "qdm_reader.h"

#include <cstring>

#include "model_verifier.h"

namespace vadu {
namespace {

uint64_t A64(uint64_t x) { return (x + 63) & ~uint64_t{63}; }

// Device memory of one tensor list: the stored sizes for "inout", rounded into `total`.
void AddTensorSizes(const TableVector<binary::TensorInfo> *tensors, picojson::array &inout, uint64_t &total) {
  if (tensors == nullptr) return;
  for (const binary::TensorInfo *tensor : *tensors) {
    inout.push_back(JsonInteger(tensor->size()));
    total += A64(static_cast<uint64_t>(tensor->size()));
  }
}

}  // namespace

QdmReader::~QdmReader() = default;

bool QdmReader::ParseToJson(const void *data, size_t size) {
  const auto *bytes = static_cast<const uint8_t *>(data);
  if (!binary::VerifyModelRoot(bytes, size)) return false;
  const binary::Model *model = binary::GetModel(bytes);
  picojson::object document;
  document["info"] = GetModelInfo(model);
  document["input"] = GetTensorInfos(model->inputs());
  document["output"] = GetTensorInfos(model->outputs());
  document["weights"] = GetBinaryInfos(model->weights());
  document["kernels"] = GetBinaryInfos(model->kernels());
  document["quant_info"] = GetQuantInfos(model->quant_info());
  document["mem_usage"] = GetMemoryUsage(model);
  json = picojson::value(std::move(document));
  return true;
}

picojson::value QdmReader::GetModelInfo(const binary::Model *model) const {
  picojson::object info;
  const binary::ModelVersion *version = model->model_version();
  const binary::ModelConfig *config = model->config();
  info["name"] = Jv(model->name());
  info["version"] = JsonUnsigned(version != nullptr ? version->version() : 0);
  // An absent config reads as its schema defaults.
  info["args_num"] = JsonInteger(config != nullptr ? config->args_num() : 0);
  info["core_num"] = JsonInteger(config != nullptr ? config->core_num() : 0);
  info["tile_num"] = JsonInteger(config != nullptr ? config->tile_num() : 4);
  info["batch_num"] = JsonInteger(config != nullptr ? config->batch_num() : 1);
  info["pack_inout"] = Jv(config != nullptr && config->pack_inout() ? "true" : "false");
  // Attributes come last, so one named like a fixed key replaces it.
  AddAttributeTexts(model->attrs(), "null", info);
  return picojson::value(std::move(info));
}

picojson::value QdmReader::GetMemoryUsage(const binary::Model *model) const {
  uint64_t total = 0;
  picojson::array workspace;
  if (model->workspace() != nullptr) {
    for (const binary::Buffer *element : *model->workspace()) {
      // Copied out: like a vector's elements, a struct in it may be misaligned.
      binary::Buffer buffer;
      std::memcpy(&buffer, element, sizeof buffer);
      workspace.push_back(JsonUnsigned(A64(buffer.size())));
      total += A64(buffer.size());
    }
  }
  picojson::array inout;
  AddTensorSizes(model->inputs(), inout, total);
  AddTensorSizes(model->outputs(), inout, total);

  // Stripped weights count with their full sizes: they are loaded back on the device.
  uint64_t weights = 0;
  if (model->weights() != nullptr) {
    for (const binary::Binary *blob : *model->weights()) {
      if (blob->headers() == nullptr) continue;
      for (const binary::BinaryHeader *header : *blob->headers()) weights += A64(header->size());
    }
  }
  uint64_t kernel = 0;
  if (model->kernels() != nullptr) {
    for (const binary::Binary *blob : *model->kernels()) {
      kernel += A64(blob->data() != nullptr ? blob->data()->size() : 0);
    }
  }
  total += weights + kernel;

  picojson::object usage;
  usage["workspace"] = picojson::value(std::move(workspace));
  usage["inout"] = picojson::value(std::move(inout));
  usage["weights"] = JsonUnsigned(weights);
  usage["kernel"] = JsonUnsigned(kernel);
  usage["total"] = JsonUnsigned(total);
  return picojson::value(std::move(usage));
}

}  // namespace vadu
