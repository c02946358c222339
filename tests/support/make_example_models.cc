// Writes a small family of example models into a folder: three single models
// that share weights (A, B, C) and three containers built from them.
#include <cstdio>
#include <filesystem>

#include "model_factory.h"

namespace vt = vadu::testing;

namespace {

vt::ModelSpec ExampleModel(const std::string &name, const std::vector<vt::ItemSpec> &weights) {
  vt::ModelSpec spec = vt::SimpleModel(name, weights);
  vt::BinarySpec embedded;
  embedded.name = "bias";
  embedded.items = {vt::Weight("bias0", 0xB1A5, 40, 9, 16)};
  spec.weights.push_back(embedded);
  vt::BinarySpec kernels;
  kernels.name = "kernels";
  kernels.items = {vt::Weight("conv_kernel", 0xC0DE, 96, 1, 8)};
  spec.kernels.push_back(kernels);
  spec.quant_info = std::vector<vt::QuantSpec>{{"input", {0.5f}, {0.0f}, {}, -1.0f, 1.0f}};
  spec.config->core_num = 2;
  vt::AttrSpec attr;
  attr.name = "compiler";
  attr.text = "example";
  spec.attrs = {attr};
  return spec;
}

vt::Bytes Container(const std::vector<vt::Bytes> &models) {
  vt::ContainerSpec spec;
  uint32_t index = 0;
  for (const vt::Bytes &m : models) {
    vt::SubModelSpec sub;
    sub.bytes = m;
    sub.name = "sub" + std::to_string(index);
    sub.hash = 0x5000 + index;
    ++index;
    spec.models.push_back(sub);
  }
  spec.devices = {{"sim", 0}, {"sim", 1}};
  return vt::BuildContainer(spec);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 1;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);

  const vt::ItemSpec shared1 = vt::Weight("conv1.weight", 0x1111, 4096, 1);
  const vt::ItemSpec shared2 = vt::Weight("conv2.weight", 0x2222, 1000, 2, 16);
  const vt::ItemSpec only_b = vt::Weight("fc_b.weight", 0x3333, 512, 3);
  const vt::ItemSpec only_c = vt::Weight("fc_c.weight", 0x4444, 777, 4, 48);

  const vt::Bytes a = vt::BuildModel(ExampleModel("A", {shared1, shared2}));
  const vt::Bytes b = vt::BuildModel(ExampleModel("B", {shared2, only_b, shared1}));
  const vt::Bytes c = vt::BuildModel(ExampleModel("C", {shared1, only_c, shared2}));
  vt::WriteFile(dir / "A.qdm", a);
  vt::WriteFile(dir / "B.qdm", b);
  vt::WriteFile(dir / "C.qdm", c);
  vt::WriteFile(dir / "A.qdms", Container({a, b}));
  vt::WriteFile(dir / "B.qdms", Container({b}));
  vt::WriteFile(dir / "C.qdms", Container({c, a}));
  return 0;
}
