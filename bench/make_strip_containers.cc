// Writes the two containers the strip/restore benchmark works on, or compares
// the sub-models' raw data of two containers.
//
//   make_strip_containers <dir> <raw_bytes> <weight_bytes> <sub_models>
//     <dir>/earlier.qdms and <dir>/last.qdms: the last container holds
//     sub_models sub-models whose raw_data hold raw_bytes in all, in weights of
//     weight_bytes each; the first two thirds of each sub-model's weights are
//     also in the earlier container, in another of its sub-models, which holds
//     as many bytes of its own besides. Equal keys hold equal bytes.
//   make_strip_containers --same-raw <a.qdms> <b.qdms>
//     exit 0 when every sub-model's raw_data is byte for byte equal in both.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "builder_space.h"
#include "container_blob.h"
#include "qdms_generated.h"
#include "tool_builder.h"
#include "vadu_mmap.h"

namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;
using vadu::qdmstrip::ToolBuilder;

constexpr uint32_t kSubModelAligns[] = {0, 4096, 16};

// Fills `out` with bytes that depend only on `hash`.
void FillWeight(uint64_t hash, uint8_t *out, uint64_t size) {
  uint64_t state = hash * 0x9E3779B97F4A7C15ull + 1;
  for (uint64_t i = 0; i + 8 <= size; i += 8) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    std::memcpy(out + i, &z, 8);
  }
}

fb::Offset<vb::TensorInfo> Tensor(ToolBuilder &b, const char *name, std::vector<int64_t> shape) {
  const vb::DataType dtype(vb::TypeCode_FLOAT, 32, 1);
  auto shape_vector = b.CreateVector(shape);
  auto name_string = b.CreateString(name);
  return vb::CreateTensorInfo(b, vb::TensorFmt_FMT_ND, &dtype, name_string, shape_vector, 64);
}

// One sub-model whose raw_data holds the weights `hashes` back to back, built in `b`.
void SubModel(ToolBuilder &b, const std::vector<uint64_t> &hashes, uint64_t weight_bytes) {
  const uint64_t raw_bytes = hashes.size() * weight_bytes;
  vadu::qdmstrip::ReserveBuilderSpace(b, raw_bytes + (uint64_t{1} << 20) + hashes.size() * 128);
  const auto raw = vadu::qdmstrip::CreateZeroedVector64(b, raw_bytes);
  std::vector<fb::Offset<vb::BinaryHeader>> headers;
  for (size_t i = 0; i < hashes.size(); ++i) {
    FillWeight(hashes[i], raw.bytes.data() + i * weight_bytes, weight_bytes);
    auto name = b.CreateString("w" + std::to_string(hashes[i]));
    headers.push_back(vb::CreateBinaryHeader(b, weight_bytes, i * weight_bytes, hashes[i], 0, name));
  }
  auto header_vector = b.CreateVector(headers);
  auto blob_name = b.CreateString("weights");
  std::vector<fb::Offset<vb::Binary>> blobs = {
      vb::CreateBinary(b, 0, header_vector, vb::BinaryType_RAW_OFFSET, blob_name)};
  auto weight_vector = b.CreateVector(blobs);
  std::vector<fb::Offset<vb::TensorInfo>> inputs = {Tensor(b, "input", {1, 3, 224, 224})};
  std::vector<fb::Offset<vb::TensorInfo>> outputs = {Tensor(b, "output", {1, 1000})};
  auto input_vector = b.CreateVector(inputs);
  auto output_vector = b.CreateVector(outputs);
  auto quant = b.CreateVector(std::vector<fb::Offset<vb::TensorQuant>>{});
  auto kernels = b.CreateVector(std::vector<fb::Offset<vb::Binary>>{});
  auto attrs = b.CreateVector(std::vector<fb::Offset<vb::Attribute>>{});
  auto version = vb::CreateModelVersion(b, 0x546F6C7665783338ull, 1);
  auto config = vb::CreateModelConfig(b);
  auto name = b.CreateString("bench");
  auto model = vb::CreateModel(b, version, name, 0, kernels, weight_vector, 0, input_vector, output_vector, quant,
                               config, attrs, raw.offset);
  vb::FinishModelBuffer(b, model);
}

bool WriteContainer(const std::string &path, const std::vector<std::vector<uint64_t>> &sub_models,
                    uint64_t weight_bytes) {
  vadu::qdmstrip::ContainerBlob blob(uint64_t{1} << 20);
  std::vector<vadu::qdmstrip::ModelHeaderMetadata> metadata;
  for (size_t i = 0; i < sub_models.size(); ++i) {
    const uint32_t align = kSubModelAligns[i % std::size(kSubModelAligns)];
    const uint64_t start = blob.NextStart(align);
    ToolBuilder sub = blob.SubModelBuilder(start);
    SubModel(sub, sub_models[i], weight_bytes);
    metadata.push_back({sub.GetSize(), start, 0x5000 + i, align, "sub" + std::to_string(i)});
    blob.Place(sub, start);
  }
  ToolBuilder b = blob.ContainerBuilder();
  const auto model_data = blob.CreateIn(b);
  std::vector<fb::Offset<vb::BinaryHeader>> headers;
  for (const auto &m : metadata) {
    auto name = b.CreateString(m.name);
    headers.push_back(vb::CreateBinaryHeader(b, m.size, m.offset, m.hash, m.align, name));
  }
  auto header_vector = b.CreateVector(headers);
  vb::FinishModelsBuffer(b, vb::CreateModels(b, model_data, header_vector));

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(b.GetBufferPointer()), static_cast<std::streamsize>(b.GetSize()));
  out.close();
  if (!out) std::cerr << "cannot write " << path << "\n";
  return static_cast<bool>(out);
}

int SameRaw(const std::string &a_path, const std::string &b_path) {
  vadu::ReadOnlyMMapFile a, b;
  if (!a.Init(a_path) || !b.Init(b_path)) return 2;
  const vb::Models &ca = *vb::GetModels(a.data());
  const vb::Models &cb = *vb::GetModels(b.data());
  if (ca.model_headers()->size() != cb.model_headers()->size()) return 1;
  for (uint32_t i = 0; i < ca.model_headers()->size(); ++i) {
    const auto *ra = vb::GetModel(ca.model_data()->data() + ca.model_headers()->Get(i)->offset())->raw_data();
    const auto *rb = vb::GetModel(cb.model_data()->data() + cb.model_headers()->Get(i)->offset())->raw_data();
    if (ra->size() != rb->size() || std::memcmp(ra->data(), rb->data(), ra->size()) != 0) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--same-raw") return SameRaw(argv[2], argv[3]);
  if (argc != 5) {
    std::cerr << "usage: make_strip_containers <dir> <raw_bytes> <weight_bytes> <sub_models>"
                 " | --same-raw <a.qdms> <b.qdms>\n";
    return 2;
  }
  const std::string dir = argv[1];
  const uint64_t raw_bytes = std::strtoull(argv[2], nullptr, 10);
  const uint64_t weight_bytes = std::strtoull(argv[3], nullptr, 10);
  const uint64_t sub_models = std::strtoull(argv[4], nullptr, 10);
  if (weight_bytes == 0 || weight_bytes % 64 != 0 || sub_models == 0 || raw_bytes < 3 * weight_bytes * sub_models) {
    std::cerr << "weight_bytes must be a positive multiple of 64, raw_bytes at least three weights per sub-model\n";
    return 2;
  }
  const uint64_t per_sub_model = raw_bytes / weight_bytes / sub_models;
  const uint64_t shared = per_sub_model * 2 / 3;
  std::vector<std::vector<uint64_t>> last(sub_models), earlier(sub_models);
  for (uint64_t s = 0; s < sub_models; ++s) {
    // The shared part of last sub-model s sits in earlier sub-model s + 1 (mod the count).
    std::vector<uint64_t> &held = earlier[(s + 1) % sub_models];
    for (uint64_t i = 0; i < per_sub_model; ++i) {
      const uint64_t hash = 0x1000 + s * per_sub_model + i;
      last[s].push_back(hash);
      held.push_back(i < shared ? hash : 0x80000000 + s * per_sub_model + i);
    }
  }
  if (!WriteContainer(dir + "/earlier.qdms", earlier, weight_bytes)) return 1;
  if (!WriteContainer(dir + "/last.qdms", last, weight_bytes)) return 1;
  return 0;
}
