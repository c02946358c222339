#include <limits>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "json_test_util.h"
#include "model_factory.h"
#include "qdms_reader.h"

namespace vadu::testing {
namespace {

namespace vb = ::vadu::binary;
using Strings = std::vector<std::string>;

picojson::object ReadContainer(const ContainerSpec &spec) {
  QdmsReader reader;
  return Parse(reader, BuildContainer(spec));
}

SubModelSpec Sub(const std::string &name, const std::string &model_name) {
  SubModelSpec sub;
  sub.bytes = BuildModel(SimpleModel(model_name, {Weight("w", 1, 16, 0)}));
  sub.name = name;
  return sub;
}

std::string ModelName(const picojson::object &models, const std::string &key) {
  return Str(Obj(Obj(models, key), "info"), "name");
}

TEST(QdmsReader, EmptyContainerShowsEmptyForms) {
  const picojson::object doc = ReadContainer({});
  EXPECT_EQ(Keys(doc), (Strings{"devices", "info", "input", "models", "operations", "output", "quant_info"}));
  EXPECT_TRUE(Obj(doc, "models").empty());
  EXPECT_TRUE(Obj(doc, "info").empty());
  EXPECT_TRUE(Obj(doc, "quant_info").empty());
  EXPECT_TRUE(Arr(doc, "operations").empty());
}

TEST(QdmsReader, SubModelsThatDoNotVerifyOrLieOutsideTheDataAreLeftOut) {
  ContainerSpec spec;
  SubModelSpec corrupt = Sub("second", "B");
  corrupt.bytes.assign(corrupt.bytes.size(), 0xA5);
  SubModelSpec beyond = Sub("beyond", "D");
  beyond.offset = 1u << 20;
  SubModelSpec wrapping = Sub("wrapping", "E");
  wrapping.offset = std::numeric_limits<uint64_t>::max() - 7;
  wrapping.size = 64;
  SubModelSpec overlong = Sub("overlong", "F");
  overlong.size = 1u << 20;
  spec.models = {Sub("first", "A"), corrupt, Sub("third", "C"), beyond, wrapping, overlong};
  const picojson::object models = Obj(ReadContainer(spec), "models");

  EXPECT_EQ(Keys(models), (Strings{"first", "third"}));
  EXPECT_EQ(ModelName(models, "first"), "A");
  EXPECT_EQ(ModelName(models, "third"), "C");
  EXPECT_EQ(Keys(Obj(models, "first")),
            (Strings{"info", "input", "kernels", "mem_usage", "output", "quant_info", "weights"}));
}

TEST(QdmsReader, LaterSubModelOfTheSameNameWinsAndAMissingNameIsEmpty) {
  ContainerSpec spec;
  spec.models = {Sub("same", "A"), Sub("same", "B"), Sub("", "C")};
  const picojson::object models = Obj(ReadContainer(spec), "models");
  EXPECT_EQ(Keys(models), (Strings{"", "same"}));
  EXPECT_EQ(ModelName(models, "same"), "B");
  EXPECT_EQ(ModelName(models, ""), "C");
}

TEST(QdmsReader, HeadersWithoutModelDataShowNoSubModels) {
  flatbuffers::FlatBufferBuilder64 fbb;
  fbb.DedupVtables(false);
  const auto header = vb::CreateBinaryHeader(fbb, 0, 0, 0, 0, fbb.CreateString("ghost"));
  const auto headers = fbb.CreateVector(std::vector<flatbuffers::Offset<vb::BinaryHeader>>{header});
  vb::ModelsBuilder models(fbb);
  models.add_model_headers(headers);
  vb::FinishModelsBuffer(fbb, models.Finish());
  QdmsReader reader;
  const picojson::object doc = Parse(reader, Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize()));
  EXPECT_TRUE(Obj(doc, "models").empty());
}

TEST(QdmsReader, DevicesValuesAndAttributes) {
  ContainerSpec spec;
  spec.devices = {{"sim", 3}, {"", 0}};
  ValueSpec value;
  value.info = TensorSpec{};
  value.info->name = "in";
  value.dev_type = 1;
  AttrSpec text;
  text.name = "role";
  text.text = "image";
  AttrSpec bytes;
  bytes.name = "raw";
  bytes.kind = AttrSpec::Kind::kBytes;
  value.attrs = {text, bytes};
  value.sub_dev_tensors = {{std::nullopt, {0, 4}, 2}};
  ValueSpec bare;
  bare.dev_type = -5;
  spec.inputs = {value, bare};
  spec.attrs = {text};
  const picojson::object doc = ReadContainer(spec);

  const picojson::array &devices = Arr(doc, "devices");
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(Str(Obj(devices[0]), "backend_name"), "sim");
  EXPECT_EQ(Int(Obj(devices[0]), "device_id"), 3);
  EXPECT_EQ(Str(Obj(devices[1]), "backend_name"), "");

  const picojson::array &inputs = Arr(doc, "input");
  const picojson::object &in = Obj(inputs.at(0));
  EXPECT_EQ(Keys(in), (Strings{"attrs", "dev_type", "info", "sub_dev_tensors", "void_ptr"}));
  EXPECT_EQ(Str(in, "dev_type"), "DEV1");
  EXPECT_EQ(Str(Obj(in, "info"), "name"), "in");
  EXPECT_EQ(Str(Obj(in, "attrs"), "role"), "image");
  EXPECT_EQ(Str(Obj(in, "attrs"), "raw"), "");
  const picojson::object &sub = Obj(Arr(in, "sub_dev_tensors").at(0));
  EXPECT_EQ(Keys(sub), (Strings{"dev_id", "info", "rois"}));
  EXPECT_TRUE(Obj(sub, "info").empty());
  EXPECT_EQ(Ints(sub.at("rois")), (std::vector<int64_t>{0, 4}));
  EXPECT_EQ(Int(sub, "dev_id"), 2);

  const picojson::object &plain = Obj(inputs.at(1));
  EXPECT_EQ(Keys(plain), (Strings{"attrs", "dev_type", "info", "void_ptr"}));
  EXPECT_EQ(Str(plain, "dev_type"), "");
  EXPECT_TRUE(Obj(plain, "info").empty());
  EXPECT_EQ(Str(Obj(doc, "info"), "role"), "image");
}

TEST(QdmsReader, VoidPtrIdentifiesTheValueTableInTheMapping) {
  flatbuffers::FlatBufferBuilder64 fbb;
  fbb.DedupVtables(false);
  const auto model_data = fbb.CreateVector64(std::vector<uint8_t>{});
  const auto shared = vb::CreateValueDef(fbb);
  const auto other = vb::CreateValueDef(fbb);
  using Values = std::vector<flatbuffers::Offset<vb::ValueDef>>;
  const auto op = vb::CreateOperation(fbb, vb::OpType_Copy, fbb.CreateVector(Values{shared}));
  const auto ops = fbb.CreateVector(std::vector<flatbuffers::Offset<vb::Operation>>{op});
  const auto inputs = fbb.CreateVector(Values{shared, other});
  vb::ModelsBuilder models(fbb);
  models.add_model_data(model_data);
  models.add_inputs(inputs);
  models.add_operations(ops);
  vb::FinishModelsBuffer(fbb, models.Finish());
  const Bytes bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  QdmsReader reader;
  const picojson::object doc = Parse(reader, bytes);

  const picojson::array &graph_inputs = Arr(doc, "input");
  const int64_t first = Int(Obj(graph_inputs.at(0)), "void_ptr");
  const int64_t second = Int(Obj(graph_inputs.at(1)), "void_ptr");
  const picojson::object &copy = Obj(Arr(doc, "operations").at(0));
  EXPECT_EQ(Int(Obj(Arr(copy, "oprands").at(0)), "void_ptr"), first);
  EXPECT_NE(first, second);
  const auto begin = reinterpret_cast<intptr_t>(bytes.data());
  EXPECT_GE(first, begin);
  EXPECT_LT(first, begin + static_cast<intptr_t>(bytes.size()));
}

OperationSpec Op(int32_t op_type, uint8_t spec_type) {
  OperationSpec op;
  op.op_type = op_type;
  op.spec_type = spec_type;
  return op;
}

TEST(QdmsReader, SpecAttrIsChosenByTheOperationType) {
  OperationSpec parallel = Op(vb::OpType_Parallel, 1);
  parallel.axes = {0, 2};
  OperationSpec launch = Op(vb::OpType_Launch, 2);
  launch.kernel_name = "conv";
  launch.kernel_indx = 4;
  OperationSpec masked = launch;
  masked.kernel_group_mask = {1, -1};
  masked.kernel_group_id = 9;
  OperationSpec gather = Op(vb::OpType_AllGather, 3);
  gather.dim = 2;
  OperationSpec subtensor = Op(vb::OpType_SubTensor, 5);
  subtensor.dev_id = 1;
  OperationSpec sync = Op(vb::OpType_Sync, 4);
  OperationSpec block_mismatch = Op(vb::OpType_BlockStart, 2);
  OperationSpec parallel_block = Op(vb::OpType_BlockStart, 6);
  parallel_block.block_type = vb::BlockType_Parallel;
  parallel_block.block_attr_type = 1;
  parallel_block.dev_id = 5;
  OperationSpec default_block = Op(vb::OpType_BlockStart, 6);
  OperationSpec end = Op(vb::OpType_BlockEnd, 6);
  OperationSpec unknown = Op(99, 1);
  OperationSpec bare_parallel = Op(vb::OpType_Parallel, 2);  // member of another type
  OperationSpec bare_launch = Op(vb::OpType_Launch, 0);
  ContainerSpec spec;
  spec.operations = {parallel, launch,      masked, gather,  subtensor,     sync,        block_mismatch,
                     parallel_block, default_block, end, unknown, bare_parallel, bare_launch};
  const picojson::array ops = Arr(ReadContainer(spec), "operations");
  ASSERT_EQ(ops.size(), spec.operations.size());
  const auto spec_attr = [&ops](size_t i) { return Obj(Obj(ops[i]), "spec_attr"); };
  const auto has_spec_attr = [&ops](size_t i) { return Obj(ops[i]).count("spec_attr") == 1; };

  EXPECT_EQ(Keys(Obj(ops[0])), (Strings{"attrs", "op_type", "oprands", "results", "spec_attr"}));
  EXPECT_EQ(Str(Obj(ops[0]), "op_type"), "Parallel");
  EXPECT_EQ(Ints(spec_attr(0).at("axes")), (std::vector<int64_t>{0, 2}));
  EXPECT_EQ(Keys(spec_attr(1)), (Strings{"kernel_group_id", "kernel_indx", "kernel_name"}));
  EXPECT_EQ(Str(spec_attr(1), "kernel_name"), "conv");
  EXPECT_EQ(Int(spec_attr(1), "kernel_indx"), 4);
  EXPECT_EQ(Int(spec_attr(1), "kernel_group_id"), -1);
  EXPECT_EQ(Ints(spec_attr(2).at("kernel_group_mask")), (std::vector<int64_t>{1, -1}));
  EXPECT_EQ(Int(spec_attr(2), "kernel_group_id"), 9);
  EXPECT_EQ(Int(spec_attr(3), "dim"), 2);
  EXPECT_EQ(Int(spec_attr(4), "dev_id"), 1);
  EXPECT_FALSE(has_spec_attr(5));
  EXPECT_TRUE(spec_attr(6).empty());
  EXPECT_EQ(Str(spec_attr(7), "block_type"), "Parallel");
  EXPECT_EQ(Int(spec_attr(7), "dev_id"), 5);
  EXPECT_EQ(Keys(spec_attr(8)), (Strings{"block_type"}));
  EXPECT_EQ(Str(spec_attr(8), "block_type"), "Default");
  EXPECT_FALSE(has_spec_attr(9));
  EXPECT_EQ(Str(Obj(ops[10]), "op_type"), "");
  EXPECT_FALSE(has_spec_attr(10));
  // A mismatched or absent member reads as the expected attribute with its defaults.
  EXPECT_TRUE(Arr(spec_attr(11), "axes").empty());
  EXPECT_EQ(Str(spec_attr(12), "kernel_name"), "");
  EXPECT_EQ(Int(spec_attr(12), "kernel_group_id"), -1);
}

QuantSpec Quant(const std::string &name, float scale) {
  QuantSpec quant;
  quant.name = name;
  quant.scale = {scale};
  return quant;
}

OperationSpec FunctionBlock(const std::vector<QuantSpec> &quants, const std::vector<std::string> &names) {
  OperationSpec op = Op(vb::OpType_BlockStart, 6);
  op.block_type = vb::BlockType_Function;
  op.block_attr_type = 2;
  op.dim = 1;
  op.quant_infos = quants;
  op.quant_names = names;
  return op;
}

TEST(QdmsReader, FirstFunctionBlockDecidesATensorsQuantEntry) {
  ContainerSpec spec;
  spec.operations = {FunctionBlock({Quant("x", 1.0f), Quant("y", 2.0f)}, {"x", "y"}),
                     FunctionBlock({Quant("x", 3.0f), Quant("z", 4.0f)}, {"x", "z"})};
  const picojson::object doc = ReadContainer(spec);

  const picojson::object &quant = Obj(doc, "quant_info");
  EXPECT_EQ(Keys(quant), (Strings{"x", "y", "z"}));
  EXPECT_EQ(Arr(Obj(quant, "x"), "scale").at(0).get<double>(), 1.0);
  const picojson::object &second = Obj(Obj(Arr(doc, "operations").at(1)), "spec_attr");
  EXPECT_EQ(Keys(second), (Strings{"block_type", "dim", "quant_infos", "quant_names"}));
  EXPECT_EQ(Str(second, "block_type"), "Function");
  EXPECT_EQ(Int(second, "dim"), 1);
  EXPECT_EQ(Arr(Obj(Obj(second, "quant_infos"), "x"), "scale").at(0).get<double>(), 3.0);
  EXPECT_EQ(Arr(second, "quant_names").at(1).get<std::string>(), "z");
}

TEST(QdmsReader, FunctionBlockWithoutItsAttributeShowsDefaults) {
  OperationSpec block = FunctionBlock({}, {});
  block.block_attr_type = 1;  // a parallel block's member under a function block
  ContainerSpec spec;
  spec.operations = {block, FunctionBlock({}, {})};
  const picojson::object doc = ReadContainer(spec);

  for (const picojson::value &op : Arr(doc, "operations")) {
    const picojson::object &attr = Obj(Obj(op), "spec_attr");
    EXPECT_TRUE(Obj(attr, "quant_infos").empty());
    EXPECT_TRUE(Arr(attr, "quant_names").empty());
  }
  EXPECT_EQ(Int(Obj(Obj(Arr(doc, "operations").at(0)), "spec_attr"), "dim"), 0);
  EXPECT_EQ(Int(Obj(Obj(Arr(doc, "operations").at(1)), "spec_attr"), "dim"), 1);
  EXPECT_TRUE(Obj(doc, "quant_info").empty());
}

}  // namespace
}  // namespace vadu::testing
