// A small family of example models: three single models that share weights
// (A, B, C) and three containers built from them.
#include "example_models.h"

namespace vadu::testing {
namespace {


ModelSpec ExampleModel(const std::string &name, const std::vector<ItemSpec> &weights) {
  ModelSpec spec = SimpleModel(name, weights);
  BinarySpec embedded;
  embedded.name = "bias";
  embedded.items = {Weight("bias0", 0xB1A5, 40, 9, 16)};
  spec.weights.push_back(embedded);
  BinarySpec kernels;
  kernels.name = "kernels";
  kernels.items = {Weight("conv_kernel", 0xC0DE, 96, 1, 8)};
  spec.kernels.push_back(kernels);
  spec.quant_info = std::vector<QuantSpec>{{"input", {0.5f}, {0.0f}, {}, -1.0f, 1.0f}};
  spec.config->core_num = 2;
  AttrSpec attr;
  attr.name = "compiler";
  attr.text = "example";
  spec.attrs = {attr};
  return spec;
}

Bytes Container(const std::vector<Bytes> &models) {
  ContainerSpec spec;
  uint32_t index = 0;
  for (const Bytes &m : models) {
    SubModelSpec sub;
    sub.bytes = m;
    sub.name = "sub" + std::to_string(index);
    sub.hash = 0x5000 + index;
    ++index;
    spec.models.push_back(sub);
  }
  spec.devices = {{"sim", 0}, {"sim", 1}};
  return BuildContainer(spec);
}

}  // namespace

std::vector<std::filesystem::path> WriteExampleModels(const std::filesystem::path &dir) {
  std::filesystem::create_directories(dir);
  const ItemSpec shared1 = Weight("conv1.weight", 0x1111, 4096, 1);
  const ItemSpec shared2 = Weight("conv2.weight", 0x2222, 1000, 2, 16);
  const ItemSpec only_b = Weight("fc_b.weight", 0x3333, 512, 3);
  const ItemSpec only_c = Weight("fc_c.weight", 0x4444, 777, 4, 48);

  const Bytes a = BuildModel(ExampleModel("A", {shared1, shared2}));
  const Bytes b = BuildModel(ExampleModel("B", {shared2, only_b, shared1}));
  const Bytes c = BuildModel(ExampleModel("C", {shared1, only_c, shared2}));
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"A.qdm", a}, {"B.qdm", b}, {"C.qdm", c},
      {"A.qdms", Container({a, b})}, {"B.qdms", Container({b})}, {"C.qdms", Container({c, a})}};
  std::vector<std::filesystem::path> written;
  for (const auto &[name, bytes] : files) {
    WriteFile(dir / name, bytes);
    written.push_back(dir / name);
  }
  return written;
}

}  // namespace vadu::testing
