// Writes the two models the strip/restore benchmark works on, or compares the
// raw data of two models.
//
//   make_strip_models <dir> <raw_bytes> <weight_bytes>
//     <dir>/earlier.qdm and <dir>/last.qdm: the last model's raw_data holds
//     raw_bytes / weight_bytes weights of weight_bytes each; the first two
//     thirds of them are also in the earlier model, which holds as many bytes
//     of its own besides. Equal keys hold equal bytes.
//   make_strip_models --same-raw <a.qdm> <b.qdm>
//     exit 0 when both models' raw_data are byte for byte equal.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "builder_space.h"
#include "qdm_generated.h"
#include "tool_builder.h"
#include "vadu_mmap.h"

namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;
using vadu::qdmstrip::ToolBuilder;

struct WeightRef {
  uint64_t hash;
  std::string name;
};

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

// One model whose raw_data holds `weights` back to back (sizes are multiples of 64).
bool WriteModel(const std::string &path, const std::vector<WeightRef> &weights, uint64_t weight_bytes) {
  ToolBuilder b = vadu::qdmstrip::MakeToolBuilder();
  const uint64_t raw_bytes = weights.size() * weight_bytes;
  vadu::qdmstrip::ReserveBuilderSpace(b, raw_bytes + (uint64_t{1} << 20) + weights.size() * 128);
  const auto raw = vadu::qdmstrip::CreateZeroedVector64(b, raw_bytes);
  std::vector<fb::Offset<vb::BinaryHeader>> headers;
  for (size_t i = 0; i < weights.size(); ++i) {
    FillWeight(weights[i].hash, raw.bytes.data() + i * weight_bytes, weight_bytes);
    auto name = b.CreateString(weights[i].name);
    headers.push_back(vb::CreateBinaryHeader(b, weight_bytes, i * weight_bytes, weights[i].hash, 0, name));
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

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(b.GetBufferPointer()), static_cast<std::streamsize>(b.GetSize()));
  out.close();
  if (!out) std::cerr << "cannot write " << path << "\n";
  return static_cast<bool>(out);
}

int SameRaw(const std::string &a_path, const std::string &b_path) {
  vadu::ReadOnlyMMapFile a, b;
  if (!a.Init(a_path) || !b.Init(b_path)) return 2;
  const auto *ra = vb::GetModel(a.data())->raw_data();
  const auto *rb = vb::GetModel(b.data())->raw_data();
  if (ra == nullptr || rb == nullptr || ra->size() != rb->size()) return 1;
  return std::memcmp(ra->data(), rb->data(), ra->size()) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--same-raw") return SameRaw(argv[2], argv[3]);
  if (argc != 4) {
    std::cerr << "usage: make_strip_models <dir> <raw_bytes> <weight_bytes> | --same-raw <a.qdm> <b.qdm>\n";
    return 2;
  }
  const std::string dir = argv[1];
  const uint64_t raw_bytes = std::strtoull(argv[2], nullptr, 10);
  const uint64_t weight_bytes = std::strtoull(argv[3], nullptr, 10);
  if (weight_bytes == 0 || weight_bytes % 64 != 0 || raw_bytes < 3 * weight_bytes) {
    std::cerr << "weight_bytes must be a positive multiple of 64, raw_bytes at least three weights\n";
    return 2;
  }
  const uint64_t count = raw_bytes / weight_bytes;
  const uint64_t shared = count * 2 / 3;
  std::vector<WeightRef> last, earlier;
  for (uint64_t i = 0; i < count; ++i) last.push_back({0x1000 + i, "w" + std::to_string(i)});
  for (uint64_t i = 0; i < shared; ++i) earlier.push_back(last[i]);
  for (uint64_t i = shared; i < count; ++i) earlier.push_back({0x80000000 + i, "own" + std::to_string(i)});
  if (!WriteModel(dir + "/earlier.qdm", earlier, weight_bytes)) return 1;
  if (!WriteModel(dir + "/last.qdm", last, weight_bytes)) return 1;
  return 0;
}
