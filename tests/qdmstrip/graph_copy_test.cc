// The container graph part of the copy: devices, values, operations and the
// operation-specific attributes, with what each member keeps and drops.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model_verifier.h"
#include "table_copy.h"
#include "test_support.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::ModelsOf;
using testing::Stores;
using testing::Text;
using testing::Values;

// Copies the graph of `source` into a new container (without sub-models).
vt::Bytes CopyGraph(const vb::Models *source) {
  ToolBuilder b = MakeToolBuilder();
  auto model_data = b.CreateVector64(std::vector<uint8_t>{});
  auto devices = b.CreateVector(TableCopy::CollectModelDevices(b, source->devices()));
  auto inputs = b.CreateVector(TableCopy::CollectValueDefs(b, source->inputs()));
  auto outputs = b.CreateVector(TableCopy::CollectValueDefs(b, source->outputs()));
  OffsetList<vb::Operation> ops;
  if (source->operations() != nullptr) {
    for (const vb::Operation *op : *source->operations()) ops.push_back(TableCopy::CollectOperation(b, op));
  }
  auto operations = b.CreateVector(ops);
  vb::ModelsBuilder models(b);
  models.add_model_data(model_data);
  models.add_devices(devices);
  models.add_inputs(inputs);
  models.add_outputs(outputs);
  models.add_operations(operations);
  vb::FinishModelsBuffer(b, models.Finish());
  return vt::Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

vt::AttrSpec StrAttr(const std::string &name, const std::string &text) {
  vt::AttrSpec a;
  a.name = name;
  a.text = text;
  return a;
}

vt::AttrSpec UndefinedAttr() {
  vt::AttrSpec a;
  a.name = "undefined";
  a.kind = vt::AttrSpec::Kind::kUndefined;
  return a;
}

vt::TensorSpec Tensor(const std::string &name) {
  vt::TensorSpec t;
  t.name = name;
  t.shape = {2, 4};
  t.size = 32;
  t.mem_type = 1;
  t.aux_name = "aux";
  return t;
}

TEST(GraphCopyTest, DevicesAndValuesAreCopied) {
  vt::ContainerSpec spec;
  spec.devices = {{"npu", 3}, {"", 0}};
  vt::ValueSpec full;
  full.info = Tensor("in");
  full.dev_type = 5;  // COMPND
  full.attrs = {StrAttr("k", "v"), UndefinedAttr()};
  vt::ValueSpec::Sub sub0;
  sub0.info = Tensor("part0");
  sub0.rois = {0, 0, 2, 2};
  sub0.dev_id = 1;
  vt::ValueSpec::Sub sub1;  // no info, no rois
  sub1.dev_id = 2;
  full.sub_dev_tensors = {sub0, sub1};
  vt::ValueSpec only_dropped_attrs;
  only_dropped_attrs.attrs = {UndefinedAttr()};
  spec.inputs = {full, only_dropped_attrs};
  spec.outputs = {vt::ValueSpec{}};
  const vt::Bytes source_bytes = vt::BuildContainer(spec);
  const vt::Bytes copy = CopyGraph(ModelsOf(source_bytes));
  ASSERT_TRUE(vb::VerifyModelsBuffer(copy.data(), copy.size()));
  const vb::Models *copied = ModelsOf(copy);

  ASSERT_EQ(copied->devices()->size(), 2u);
  EXPECT_EQ(Text(copied->devices()->Get(0)->backend_name()), "npu");
  EXPECT_EQ(copied->devices()->Get(0)->device_id(), 3);
  EXPECT_EQ(copied->devices()->Get(1)->backend_name(), nullptr);

  ASSERT_EQ(copied->inputs()->size(), 2u);
  const vb::ValueDef *v = copied->inputs()->Get(0);
  ASSERT_NE(v->info(), nullptr);
  EXPECT_EQ(Text(v->info()->name()), "in");
  EXPECT_EQ(Values(v->info()->shape()), (std::vector<int64_t>{2, 4}));
  EXPECT_EQ(v->info()->mem_type(), vb::DeviceType_DEV0);  // the tensor copy's rule
  EXPECT_EQ(v->info()->aux_name(), nullptr);
  EXPECT_EQ(v->dev_type(), vb::DeviceType_COMPND);
  ASSERT_EQ(v->attrs()->size(), 1u);
  EXPECT_EQ(Text(v->attrs()->Get(0)->name()), "k");
  ASSERT_EQ(v->sub_dev_tensors()->size(), 2u);
  const vb::SubTensor *s0 = v->sub_dev_tensors()->Get(0);
  EXPECT_EQ(Text(s0->info()->name()), "part0");
  EXPECT_EQ(Values(s0->rois()), (std::vector<int32_t>{0, 0, 2, 2}));
  EXPECT_EQ(s0->dev_id(), 1);
  const vb::SubTensor *s1 = v->sub_dev_tensors()->Get(1);
  EXPECT_EQ(s1->info(), nullptr);
  EXPECT_EQ(s1->rois(), nullptr);
  EXPECT_EQ(s1->dev_id(), 2);

  const vb::ValueDef *bare = copied->inputs()->Get(1);
  EXPECT_EQ(bare->info(), nullptr);
  EXPECT_EQ(bare->attrs(), nullptr);
  EXPECT_EQ(bare->sub_dev_tensors(), nullptr);
  EXPECT_EQ(bare->dev_type(), vb::DeviceType_DEV0);
  EXPECT_TRUE(Stores(bare, vb::ValueDef::VT_DEV_TYPE));
  EXPECT_EQ(copied->outputs()->size(), 1u);

  ToolBuilder b = MakeToolBuilder();
  EXPECT_TRUE(TableCopy::CollectValueDef(b, nullptr).IsNull());
  EXPECT_TRUE(TableCopy::CollectValueDefs(b, nullptr).empty());
  EXPECT_TRUE(TableCopy::CollectModelDevices(b, nullptr).empty());
  EXPECT_TRUE(TableCopy::CollectOperation(b, nullptr).IsNull());
}

vt::OperationSpec Op(uint8_t spec_type) {
  vt::OperationSpec op;
  op.spec_type = spec_type;
  return op;
}

// One operation per decision of the specific-attribute copy.
struct OpCase {
  const char *what;
  vt::OperationSpec op;
};

std::vector<OpCase> OperationCases() {
  std::vector<OpCase> cases;
  vt::OperationSpec parallel = Op(1);
  parallel.axes = {0, 2};
  parallel.op_type = 0;
  cases.push_back({"parallel with axes", parallel});
  cases.push_back({"parallel without axes", Op(1)});
  vt::OperationSpec launch = Op(2);
  launch.op_type = 3;
  launch.kernel_name = "gemm";
  launch.kernel_indx = 4;
  launch.kernel_group_mask = {1, 2};
  launch.kernel_group_id = 5;
  cases.push_back({"launch", launch});
  vt::OperationSpec launch_no_value = Op(2);
  launch_no_value.spec_value_absent = true;
  cases.push_back({"launch without value", launch_no_value});
  vt::OperationSpec gather = Op(3);
  gather.dim = 7;
  cases.push_back({"all-gather", gather});
  vt::OperationSpec sync_no_value = Op(4);
  sync_no_value.spec_value_absent = true;
  cases.push_back({"sync without value", sync_no_value});
  vt::OperationSpec sub = Op(5);
  sub.dev_id = 9;
  cases.push_back({"sub tensor", sub});
  vt::OperationSpec block_parallel = Op(6);
  block_parallel.block_type = 2;
  block_parallel.block_attr_type = 1;
  block_parallel.dev_id = 6;
  cases.push_back({"block with parallel inner", block_parallel});
  vt::OperationSpec block_func = Op(6);
  block_func.block_type = 1;
  block_func.block_attr_type = 2;
  block_func.dim = 3;
  vt::QuantSpec q;
  q.name = "q";
  q.scale = {2.0f};
  q.zero_point = {1.0f};
  q.block_shape = {4};
  q.min = -1.0f;
  q.max = 1.0f;
  block_func.quant_infos = {q};
  block_func.quant_names = {"a", "b"};
  cases.push_back({"block with function inner", block_func});
  vt::OperationSpec block_func_no_value = Op(6);
  block_func_no_value.block_attr_type = 2;
  block_func_no_value.block_value_absent = true;
  cases.push_back({"block with function type but no inner value", block_func_no_value});
  vt::OperationSpec block_outside = Op(6);
  block_outside.block_attr_type = 9;
  cases.push_back({"block with inner type outside the schema", block_outside});
  vt::OperationSpec block_no_value = Op(6);
  block_no_value.spec_value_absent = true;
  cases.push_back({"block without value", block_no_value});
  cases.push_back({"type outside the schema", Op(9)});
  vt::OperationSpec with_values = Op(0);
  with_values.op_type = 2;
  vt::ValueSpec a;
  a.info = Tensor("x");
  with_values.oprands = {a};
  with_values.results = {a, a};
  with_values.attrs = {StrAttr("n", "m"), UndefinedAttr()};
  cases.push_back({"values and attributes", with_values});
  return cases;
}

TEST(GraphCopyTest, OperationsKeepOnlyWhatTheSchemaDefines) {
  vt::ContainerSpec spec;
  const std::vector<OpCase> cases = OperationCases();
  for (const OpCase &c : cases) spec.operations.push_back(c.op);
  const vt::Bytes source_bytes = vt::BuildContainer(spec);
  ASSERT_TRUE(vb::VerifyModelsBuffer(source_bytes.data(), source_bytes.size()));
  const vt::Bytes copy = CopyGraph(ModelsOf(source_bytes));
  ASSERT_TRUE(vb::VerifyModelsBuffer(copy.data(), copy.size()));
  const auto *ops = ModelsOf(copy)->operations();
  ASSERT_EQ(ops->size(), cases.size());
  auto op = [&](const char *what) {
    for (flatbuffers::uoffset_t i = 0; i < cases.size(); ++i) {
      if (std::string(cases[i].what) == what) return ops->Get(i);
    }
    ADD_FAILURE() << "no case " << what;
    return ops->Get(0);
  };

  const vb::Operation *parallel = op("parallel with axes");
  EXPECT_EQ(parallel->op_type(), vb::OpType_Parallel);
  ASSERT_NE(parallel->spec_attr_as_ParallelAttribute(), nullptr);
  EXPECT_EQ(Values(parallel->spec_attr_as_ParallelAttribute()->axes()), (std::vector<int32_t>{0, 2}));
  ASSERT_NE(op("parallel without axes")->spec_attr_as_ParallelAttribute(), nullptr);
  EXPECT_EQ(op("parallel without axes")->spec_attr_as_ParallelAttribute()->axes(), nullptr);

  const vb::LaunchAttribute *launch = op("launch")->spec_attr_as_LaunchAttribute();
  ASSERT_NE(launch, nullptr);
  EXPECT_EQ(op("launch")->op_type(), vb::OpType_Launch);
  EXPECT_EQ(Text(launch->kernel_name()), "gemm");
  EXPECT_EQ(launch->kernel_indx(), 4);
  EXPECT_EQ(launch->kernel_group_mask(), nullptr);
  EXPECT_EQ(launch->kernel_group_id(), -1);

  const vb::Operation *launch_no_value = op("launch without value");
  EXPECT_EQ(launch_no_value->spec_attr_type(), vb::SpecificAttribute_NONE);
  EXPECT_FALSE(Stores(launch_no_value, vb::Operation::VT_SPEC_ATTR_TYPE));
  EXPECT_EQ(launch_no_value->spec_attr(), nullptr);

  EXPECT_EQ(op("all-gather")->spec_attr_as_AllGatherAttribute()->dim(), 7);
  EXPECT_NE(op("sync without value")->spec_attr_as_SyncAttribute(), nullptr);
  EXPECT_EQ(op("sub tensor")->spec_attr_as_SubTensorAttribute()->dev_id(), 9);

  const vb::BlockAttribute *bp = op("block with parallel inner")->spec_attr_as_BlockAttribute();
  ASSERT_NE(bp, nullptr);
  EXPECT_EQ(bp->block_type(), vb::BlockType_Parallel);
  ASSERT_NE(bp->block_attr_as_ParallelBlockAttribute(), nullptr);
  EXPECT_EQ(bp->block_attr_as_ParallelBlockAttribute()->dev_id(), 6);

  const vb::BlockAttribute *bf = op("block with function inner")->spec_attr_as_BlockAttribute();
  ASSERT_NE(bf, nullptr);
  EXPECT_EQ(bf->block_type(), vb::BlockType_Function);
  const vb::FuncBlockAttribute *func = bf->block_attr_as_FuncBlockAttribute();
  ASSERT_NE(func, nullptr);
  EXPECT_EQ(func->dim(), 3);
  ASSERT_EQ(func->quant_infos()->size(), 1u);
  const vb::TensorQuant *fq = func->quant_infos()->Get(0);
  EXPECT_EQ(Text(fq->name()), "q");
  EXPECT_EQ(Values(fq->scale()), (std::vector<float>{2.0f}));
  EXPECT_EQ(Values(fq->zero_point()), (std::vector<float>{1.0f}));
  EXPECT_EQ(Values(fq->block_shape()), (std::vector<int64_t>{4}));
  EXPECT_EQ(fq->min(), -1.0f);
  EXPECT_EQ(fq->max(), 1.0f);
  ASSERT_EQ(func->quant_names()->size(), 2u);
  EXPECT_EQ(func->quant_names()->Get(1)->str(), "b");

  const vb::BlockAttribute *bn = op("block with function type but no inner value")->spec_attr_as_BlockAttribute();
  ASSERT_NE(bn, nullptr);
  EXPECT_EQ(bn->block_attr_type(), vb::BlockSpecificAttribute_FuncBlockAttribute);
  EXPECT_EQ(bn->block_attr(), nullptr);
  EXPECT_EQ(bn->block_type(), vb::BlockType_Default);
  const vb::BlockAttribute *bo = op("block with inner type outside the schema")->spec_attr_as_BlockAttribute();
  ASSERT_NE(bo, nullptr);
  EXPECT_EQ(static_cast<int>(bo->block_attr_type()), 9);
  EXPECT_EQ(bo->block_attr(), nullptr);

  for (const char *dropped : {"block without value", "type outside the schema"}) {
    EXPECT_EQ(op(dropped)->spec_attr_type(), vb::SpecificAttribute_NONE) << dropped;
    EXPECT_EQ(op(dropped)->spec_attr(), nullptr) << dropped;
  }

  const vb::Operation *values = op("values and attributes");
  EXPECT_EQ(values->op_type(), vb::OpType_Copy);
  ASSERT_EQ(values->oprands()->size(), 1u);
  EXPECT_EQ(Text(values->oprands()->Get(0)->info()->name()), "x");
  EXPECT_EQ(values->results()->size(), 2u);
  ASSERT_EQ(values->attrs()->size(), 1u);
  EXPECT_EQ(Text(values->attrs()->Get(0)->value_as_str()), "m");
  // An operation with none of them has no such vectors.
  EXPECT_EQ(parallel->oprands(), nullptr);
  EXPECT_EQ(parallel->results(), nullptr);
  EXPECT_EQ(parallel->attrs(), nullptr);
  EXPECT_TRUE(Stores(parallel, vb::Operation::VT_OP_TYPE));
}

}  // namespace
}  // namespace vadu::qdmstrip
