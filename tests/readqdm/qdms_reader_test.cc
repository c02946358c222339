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

picojson::object ReadBuilt(flatbuffers::FlatBufferBuilder64 &fbb, flatbuffers::Offset<vb::Models> root, Bytes &bytes) {
  vb::FinishModelsBuffer(fbb, root);
  bytes.assign(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  QdmsReader reader;
  return Parse(reader, bytes);
}

TEST(QdmsReader, EmptyContainerShowsEmptyForms) {
  const picojson::object doc = ReadContainer({});
  EXPECT_EQ(Keys(doc), (Strings{"devices", "info", "input", "models", "operations", "output", "quant_info"}));
  EXPECT_TRUE(Obj(doc, "models").empty());
  EXPECT_TRUE(Obj(doc, "info").empty());
  EXPECT_TRUE(Obj(doc, "quant_info").empty());
}

TEST(QdmsReader, SubModelsOutsideTheModelDataAreNeverRead) {
  SubModelSpec inside;
  inside.bytes = BuildModel(SimpleModel("A", {}));
  inside.name = "inside";
  SubModelSpec beyond = inside, wrapping = inside, overlong = inside;
  beyond.name = "beyond";
  beyond.offset = 1u << 20;
  wrapping.name = "wrapping";
  wrapping.offset = std::numeric_limits<uint64_t>::max() - 7;
  wrapping.size = 64;
  overlong.name = "overlong";
  overlong.size = 1u << 20;
  ContainerSpec spec;
  spec.models = {inside, beyond, wrapping, overlong};
  EXPECT_EQ(Keys(Obj(ReadContainer(spec), "models")), (Strings{"inside"}));

  // Headers without any model data.
  flatbuffers::FlatBufferBuilder64 fbb;
  fbb.DedupVtables(false);
  const auto header = vb::CreateBinaryHeader(fbb, 0, 0, 0, 0, fbb.CreateString("ghost"));
  const auto headers = fbb.CreateVector(std::vector<flatbuffers::Offset<vb::BinaryHeader>>{header});
  vb::ModelsBuilder models(fbb);
  models.add_model_headers(headers);
  Bytes bytes;
  EXPECT_TRUE(Obj(ReadBuilt(fbb, models.Finish(), bytes), "models").empty());
}

TEST(QdmsReader, DevicesAndValues) {
  ContainerSpec spec;
  spec.devices = {{"sim", 3}};
  ValueSpec value;
  value.info = TensorSpec{};
  value.info->name = "in";
  value.dev_type = 1;
  value.attrs = {AttrSpec{"role", AttrSpec::Kind::kString, "image", {}, {}, false},
                 AttrSpec{"raw", AttrSpec::Kind::kBytes, "", {1}, {}, false}};
  value.sub_dev_tensors = {{std::nullopt, {0, 4}, 2}};
  ValueSpec no_subs;
  no_subs.write_empty_sub_dev_tensors = true;
  spec.inputs = {value, ValueSpec{}, no_subs};
  const picojson::object doc = ReadContainer(spec);

  EXPECT_EQ(Str(Obj(Arr(doc, "devices").at(0)), "backend_name"), "sim");
  EXPECT_EQ(Int(Obj(Arr(doc, "devices").at(0)), "device_id"), 3);
  const picojson::object &in = Obj(Arr(doc, "input").at(0));
  EXPECT_EQ(Keys(in), (Strings{"attrs", "dev_type", "info", "sub_dev_tensors", "void_ptr"}));
  EXPECT_EQ(Str(in, "dev_type"), "DEV1");
  EXPECT_EQ(Str(Obj(in, "info"), "name"), "in");
  EXPECT_EQ(Str(Obj(in, "attrs"), "raw"), "");
  const picojson::object &sub = Obj(Arr(in, "sub_dev_tensors").at(0));
  EXPECT_TRUE(Obj(sub, "info").empty());
  EXPECT_EQ(Ints(sub.at("rois")), (std::vector<int64_t>{0, 4}));
  EXPECT_EQ(Int(sub, "dev_id"), 2);
  EXPECT_EQ(Keys(Obj(Arr(doc, "input").at(1))), (Strings{"attrs", "dev_type", "info", "void_ptr"}));
  EXPECT_EQ(Keys(Obj(Arr(doc, "input").at(2))), (Strings{"attrs", "dev_type", "info", "void_ptr"}));
}

TEST(QdmsReader, VoidPtrIdentifiesTheValueTableInTheBuffer) {
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
  Bytes bytes;
  const picojson::object doc = ReadBuilt(fbb, models.Finish(), bytes);

  const int64_t first = Int(Obj(Arr(doc, "input").at(0)), "void_ptr");
  EXPECT_NE(first, Int(Obj(Arr(doc, "input").at(1)), "void_ptr"));
  EXPECT_EQ(Int(Obj(Arr(Obj(Arr(doc, "operations").at(0)), "oprands").at(0)), "void_ptr"), first);
  const auto begin = reinterpret_cast<intptr_t>(bytes.data());
  EXPECT_TRUE(first > begin && first < begin + static_cast<intptr_t>(bytes.size()));
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
  OperationSpec masked = launch;
  masked.kernel_group_mask = {1, -1};
  OperationSpec gather = Op(vb::OpType_AllGather, 3);
  gather.dim = 2;
  OperationSpec parallel_block = Op(vb::OpType_BlockStart, 6);
  parallel_block.block_type = vb::BlockType_Parallel;
  parallel_block.block_attr_type = 1;
  parallel_block.dev_id = 5;
  ContainerSpec spec;
  spec.operations = {parallel, launch, masked, gather, Op(vb::OpType_Sync, 4), Op(vb::OpType_BlockStart, 2),
                     parallel_block, Op(vb::OpType_BlockEnd, 6), Op(99, 1), Op(vb::OpType_Parallel, 2)};
  const picojson::array ops = Arr(ReadContainer(spec), "operations");
  ASSERT_EQ(ops.size(), spec.operations.size());
  const auto attr = [&ops](size_t i) { return Obj(Obj(ops[i]), "spec_attr"); };
  const auto has_attr = [&ops](size_t i) { return Obj(ops[i]).count("spec_attr") == 1; };

  EXPECT_EQ(Keys(Obj(ops[0])), (Strings{"attrs", "op_type", "oprands", "results", "spec_attr"}));
  EXPECT_EQ(Ints(attr(0).at("axes")), (std::vector<int64_t>{0, 2}));
  EXPECT_EQ(Keys(attr(1)), (Strings{"kernel_group_id", "kernel_indx", "kernel_name"}));
  EXPECT_EQ(Int(attr(1), "kernel_group_id"), -1);
  EXPECT_EQ(Ints(attr(2).at("kernel_group_mask")), (std::vector<int64_t>{1, -1}));
  EXPECT_EQ(Int(attr(3), "dim"), 2);
  EXPECT_FALSE(has_attr(4));  // Sync
  EXPECT_TRUE(attr(5).empty());  // a block start whose member is not a block
  EXPECT_EQ(Str(attr(6), "block_type"), "Parallel");
  EXPECT_EQ(Int(attr(6), "dev_id"), 5);
  EXPECT_FALSE(has_attr(7));  // BlockEnd
  EXPECT_EQ(Str(Obj(ops[8]), "op_type"), "");
  EXPECT_FALSE(has_attr(8));
  // A member of another type reads as the expected attribute with its defaults.
  EXPECT_TRUE(Arr(attr(9), "axes").empty());
}

OperationSpec FunctionBlock(const std::vector<std::pair<std::string, float>> &quants) {
  OperationSpec op = Op(vb::OpType_BlockStart, 6);
  op.block_type = vb::BlockType_Function;
  op.block_attr_type = 2;
  op.dim = 1;
  for (const auto &[name, scale] : quants) {
    op.quant_infos.emplace_back();
    op.quant_infos.back().name = name;
    op.quant_infos.back().scale = {scale};
    op.quant_names.push_back(name);
  }
  return op;
}

TEST(QdmsReader, FirstFunctionBlockDecidesATensorsQuantEntry) {
  OperationSpec bare = FunctionBlock({});
  bare.block_attr_type = 1;  // a parallel block's member under a function block
  ContainerSpec spec;
  spec.operations = {FunctionBlock({{"x", 1.0f}, {"y", 2.0f}}), FunctionBlock({{"x", 3.0f}, {"z", 4.0f}}), bare};
  const picojson::object doc = ReadContainer(spec);

  const picojson::object &quant = Obj(doc, "quant_info");
  EXPECT_EQ(Keys(quant), (Strings{"x", "y", "z"}));
  EXPECT_EQ(Arr(Obj(quant, "x"), "scale").at(0).get<double>(), 1.0);
  const picojson::object &second = Obj(Obj(Arr(doc, "operations").at(1)), "spec_attr");
  EXPECT_EQ(Keys(second), (Strings{"block_type", "dim", "quant_infos", "quant_names"}));
  EXPECT_EQ(Arr(Obj(Obj(second, "quant_infos"), "x"), "scale").at(0).get<double>(), 3.0);
  EXPECT_EQ(Arr(second, "quant_names").at(1).get<std::string>(), "z");
  const picojson::object &third = Obj(Obj(Arr(doc, "operations").at(2)), "spec_attr");
  EXPECT_EQ(Int(third, "dim"), 0);
  EXPECT_TRUE(Obj(third, "quant_infos").empty());
  EXPECT_TRUE(Arr(third, "quant_names").empty());
}

}  // namespace
}  // namespace vadu::testing
