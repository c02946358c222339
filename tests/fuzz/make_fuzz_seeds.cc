// Writes the seed corpus shared by every fuzz target into the folder given on
// the command line: the example family, their stripped forms (made by the
// strip jobs themselves), small models that reach every table the readers
// and the copy code know, and models whose alignments are hard to lay out.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "example_models.h"
#include "model_factory.h"
#include "qdms_generated.h"
#include "tool_dispatch.h"
#include "tool_options.h"

namespace {

namespace fs = std::filesystem;
namespace vb = vadu::binary;
using namespace vadu::testing;

AttrSpec Attr(const std::string &name, AttrSpec::Kind kind, const std::string &text = "") {
  AttrSpec attr;
  attr.name = name;
  attr.kind = kind;
  attr.text = text;
  if (kind == AttrSpec::Kind::kBytes) {
    attr.bytes = {1, 2, 3, 4};
    attr.bytes_dtype = DataTypeSpec{0, 8, 1};
  }
  return attr;
}

TensorSpec Tensor(const std::string &name, int32_t mem_type) {
  TensorSpec tensor;
  tensor.name = name;
  tensor.shape = {1, 3, 4, 4};
  tensor.size = 192;
  tensor.stride = {192, 64, 16, 4};
  tensor.block_layout = {1, 1, 1, 1};
  tensor.mem_type = mem_type;
  tensor.mem_offset = 128;
  return tensor;
}

// Tensors on and off the first device, sub-tensors, every attribute kind,
// embedded and RAW_OFFSET weights (one of them stripped), kernels, workspace.
ModelSpec RichModel() {
  ModelSpec spec = SimpleModel("rich", {Weight("w0", 0x10, 24, 1, 16), Weight("w1", 0x11, 8, 2, 3)});
  spec.weights[0].items.push_back(Weight("gone", 0x12, 32, 0, 64));
  spec.weights[0].items.back().offset = 0xFFFFFFFFFFFFFFFFull;
  spec.weights[0].attrs = {Attr("kind", AttrSpec::Kind::kString, "conv"), Attr("blob", AttrSpec::Kind::kBytes)};
  BinarySpec embedded;
  embedded.name = "bias";
  embedded.items = {Weight("b0", 0x20, 12, 3, 0)};
  spec.weights.push_back(embedded);
  BinarySpec kernels;
  kernels.name = "kernels";
  kernels.items = {Weight("k0", 0x30, 16, 4, 8)};
  spec.kernels.push_back(kernels);
  spec.workspace = {{0, 256, 1, 2}};
  TensorSpec off_device = Tensor("in1", 1);
  off_device.sub_tensors = {Tensor("part", 1)};
  off_device.sub_roi = {0, 0, 2, 2};
  spec.inputs = {Tensor("in0", 0), off_device};
  spec.outputs = {Tensor("out0", 0)};
  spec.quant_info = std::vector<QuantSpec>{{"in0", {0.5f, 0.25f}, {0.0f, 1.0f}, {1, 2}, -1.0f, 1.0f}};
  spec.custom_msg = "seed";
  spec.attrs = {Attr("text", AttrSpec::Kind::kString, "x"), Attr("bytes", AttrSpec::Kind::kBytes),
                Attr("odd", AttrSpec::Kind::kUndefined)};
  return spec;
}

ValueSpec Value(const std::string &name) {
  ValueSpec value;
  value.info = Tensor(name, 0);
  value.attrs = {Attr("v", AttrSpec::Kind::kString, name)};
  ValueSpec::Sub sub;
  sub.info = Tensor(name + "_dev1", 1);
  sub.rois = {0, 1};
  sub.dev_id = 1;
  value.sub_dev_tensors = {sub};
  return value;
}

OperationSpec Op(int32_t op_type, uint8_t spec_type) {
  OperationSpec op;
  op.op_type = op_type;
  op.spec_type = spec_type;
  op.oprands = {Value("x")};
  op.results = {Value("y")};
  return op;
}

// Two sub-models, the graph with every specific attribute, devices and values.
ContainerSpec RichContainer() {
  ContainerSpec spec;
  SubModelSpec first;
  first.bytes = BuildModel(RichModel());
  first.name = "rich";
  first.hash = 0x99;
  first.align = 16;
  SubModelSpec second;
  second.bytes = BuildModel(SimpleModel("small", {Weight("s0", 0x10, 24, 1, 16)}));
  second.name = "small";
  second.align = 3;
  spec.models = {first, second};
  spec.devices = {{"sim", 0}, {"sim", 1}};
  spec.inputs = {Value("x")};
  spec.outputs = {Value("y")};
  OperationSpec parallel = Op(vb::OpType_Parallel, 1);
  parallel.axes = {0, 2};
  OperationSpec launch = Op(vb::OpType_Launch, 2);
  launch.kernel_name = "k0";
  launch.kernel_group_mask = {1, -1};
  OperationSpec gather = Op(vb::OpType_AllGather, 3);
  gather.dim = 1;
  OperationSpec sub_tensor = Op(vb::OpType_SubTensor, 5);
  OperationSpec parallel_block = Op(vb::OpType_BlockStart, 6);
  parallel_block.block_type = vb::BlockType_Parallel;
  parallel_block.block_attr_type = 1;
  parallel_block.dev_id = 1;
  OperationSpec function_block = Op(vb::OpType_BlockStart, 6);
  function_block.block_type = vb::BlockType_Function;
  function_block.block_attr_type = 2;
  function_block.quant_infos = {{"x", {0.5f}, {0.0f}, {}, -1.0f, 1.0f}};
  function_block.quant_names = {"x"};
  spec.operations = {parallel, launch, gather, Op(vb::OpType_Sync, 4), sub_tensor, parallel_block,
                     function_block, Op(vb::OpType_BlockEnd, 0)};
  spec.attrs = {Attr("graph", AttrSpec::Kind::kString, "seed")};
  return spec;
}

// One key at alignments that do not divide each other: its one restored copy
// must suit both headers.
ModelSpec MixedAlignments() {
  return SimpleModel("mixed", {Weight("m", 0x20, 8, 1, 3), Weight("m", 0x20, 8, 1, 16), Weight("n", 0x21, 4, 2, 48),
                               Weight("n", 0x21, 4, 2, 64)});
}

// One-byte weights at the largest alignment, all reading byte 0: a layout of
// gigabytes from a few hundred bytes, more than a fuzzed job may allocate.
ModelSpec FarAlignments() {
  std::vector<ItemSpec> items;
  for (uint64_t i = 0; i < 8; ++i) {
    ItemSpec item = Weight("far", 0x30 + i, 1, 1, 0xFFFFFFFF);
    item.offset = 0;
    items.push_back(item);
  }
  ModelSpec spec = SimpleModel("far", items);
  spec.extra_raw_tail = {1};
  return spec;
}

ContainerSpec ContainerOf(const ModelSpec &model, uint32_t align) {
  SubModelSpec sub;
  sub.bytes = BuildModel(model);
  sub.align = align;
  ContainerSpec spec;
  spec.models.push_back(sub);
  return spec;
}

// Runs a strip job silently; true when it wrote `output`.
bool Strip(const std::vector<std::string> &inputs, const std::string &output) {
  std::ostringstream discarded;
  std::streambuf *out = std::cout.rdbuf(discarded.rdbuf());
  std::streambuf *err = std::cerr.rdbuf(discarded.rdbuf());
  vadu::qdmstrip::ToolOptions options;
  options.strip = true;
  options.inputs = inputs;
  options.output = output;
  const int code = vadu::qdmstrip::RunTool(options);
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
  return code == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 1;
  }
  const fs::path dir = argv[1];
  fs::remove_all(dir);
  WriteExampleModels(dir);
  for (const char *suffix : {".qdm", ".qdms"}) {
    const auto path = [&dir, suffix](const char *name) { return (dir / (name + std::string(suffix))).string(); };
    // A job that fails leaves no seed behind.
    if (!Strip({path("A"), path("B"), path("C")}, path("C_stripped"))) fs::remove(path("C_stripped"));
  }
  WriteFile(dir / "rich.qdm", BuildModel(RichModel()));
  WriteFile(dir / "rich.qdms", BuildContainer(RichContainer()));
  WriteFile(dir / "small.qdm", BuildModel(SimpleModel("small", {Weight("s0", 0x10, 24, 1, 16)})));
  WriteFile(dir / "mixed_aligned.qdm", BuildModel(MixedAlignments()));
  WriteFile(dir / "mixed_aligned.qdms", BuildContainer(ContainerOf(MixedAlignments(), 3)));
  WriteFile(dir / "far_aligned.qdm", BuildModel(FarAlignments()));
  WriteFile(dir / "far_aligned.qdms", BuildContainer(ContainerOf(FarAlignments(), 0xFFFFFFFF)));
  return 0;
}
