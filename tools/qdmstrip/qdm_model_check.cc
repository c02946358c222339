// WeightToolBase::VerifyQdmModel: the schema check of a single model and the
// strict checks of a model that qdmstrip is about to hand to the runtime.
#include <fstream>
#include <iostream>
#include <string_view>
#include <unordered_set>

#include "model_verifier.h"
#include "stripped_weight_marker.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;

constexpr std::string_view kSharedWeightsName = "shared_weights";

std::string_view NameOrUnknown(const flatbuffers::String *name) {
  return name == nullptr ? std::string_view("unknown") : name->string_view();
}

bool FieldMissing(const void *field, const char *name) {
  if (field != nullptr) return false;
  std::cerr << "[ERROR] Runtime-required field '" << name << "' is null in output model\n";
  return true;
}

bool HasRuntimeFields(const vb::Model &model) {
  if (FieldMissing(model.inputs(), "inputs")) return false;
  if (FieldMissing(model.outputs(), "outputs")) return false;
  if (FieldMissing(model.quant_info(), "quant_info")) {
    std::cerr << "        (non-quantized models must write an empty vector, not null)\n";
    return false;
  }
  if (FieldMissing(model.kernels(), "kernels")) return false;
  if (FieldMissing(model.config(), "config")) return false;
  return true;
}

// No data, headers present, every offset the marker, hashes unique across
// every such Binary of the model.
bool SharedWeightsValid(const vb::Binary &blob, std::unordered_set<uint64_t> &hashes) {
  if (blob.data() != nullptr && blob.data()->size() != 0) {
    std::cerr << "[ERROR] shared_weights Binary should not have data\n";
    return false;
  }
  if (blob.headers() == nullptr) {
    std::cerr << "[ERROR] shared_weights binary missing headers\n";
    return false;
  }
  for (const vb::BinaryHeader *header : *blob.headers()) {
    if (header->offset() != STRIPPED_WEIGHT_OFFSET_MARKER) {
      std::cerr << "[ERROR] shared_weights header offset must be STRIPPED_WEIGHT_OFFSET_MARKER (0x" << std::hex
                << STRIPPED_WEIGHT_OFFSET_MARKER << "): " << NameOrUnknown(header->name()) << " (actual offset: 0x"
                << header->offset() << std::dec << ")\n";
      return false;
    }
    if (!hashes.insert(header->hash()).second) {
      std::cerr << "[ERROR] shared_weights header hash not unique: " << NameOrUnknown(header->name()) << "\n";
      return false;
    }
  }
  return true;
}

bool WeightBinaryValid(const vb::Binary &blob) {
  if (blob.headers() == nullptr) {
    std::cerr << "[ERROR] Non-shared weight binary missing headers: " << NameOrUnknown(blob.name()) << "\n";
    return false;
  }
  if (blob.type() != vb::BinaryType_RAW_OFFSET) return true;
  for (const vb::BinaryHeader *header : *blob.headers()) {
    if (header->size() == 0 || header->offset() == STRIPPED_WEIGHT_OFFSET_MARKER || header->align() == 0) continue;
    if (header->offset() % header->align() != 0) {
      std::cerr << "[ERROR] RAW_OFFSET alignment mismatch: " << NameOrUnknown(header->name())
                << " off=" << header->offset() << " align=" << header->align() << "\n";
      return false;
    }
  }
  return true;
}

bool WeightsValid(const vb::Model &model) {
  if (model.weights() == nullptr) return true;
  std::unordered_set<uint64_t> shared_hashes;
  for (const vb::Binary *blob : *model.weights()) {
    const bool shared = blob->name() != nullptr && blob->name()->string_view() == kSharedWeightsName;
    if (!(shared ? SharedWeightsValid(*blob, shared_hashes) : WeightBinaryValid(*blob))) return false;
  }
  return true;
}

void DumpBuffer(const uint8_t *data, uint64_t size, const std::string &dump_path) {
  const std::string target = dump_path.empty() ? kDefaultDumpPath : dump_path;
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (out.is_open()) {
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
  }
  // A dump that did not reach the disk whole is reported like one that could not be opened.
  if (!out) {
    std::cerr << "[WARN] Failed to write dump file to " << target << "\n";
    return;
  }
  std::cerr << "[INFO] Dumped failing buffer to " << target << " (size: " << size << " bytes)\n";
}

}  // namespace

bool WeightToolBase::VerifyQdmModel(const uint8_t *data, uint64_t size, bool strict, bool dump_on_failure,
                                    const std::string &dump_path) {
  if (!vb::VerifyModelBuffer(data, size)) {
    std::cerr << "[ERROR] Model FlatBuffer verification failed!\n";
    if (dump_on_failure) DumpBuffer(data, size, dump_path);
    return false;
  }
  if (!strict) return true;
  const vb::Model *model = vb::GetModel(data);
  return HasRuntimeFields(*model) && WeightsValid(*model);
}

}  // namespace vadu::qdmstrip
