// Defaults and union accessors that readers rely on when a writer left fields out.
#include <gtest/gtest.h>

#include "model_factory.h"
#include "model_verifier.h"

namespace vt = vadu::testing;
namespace vb = vadu::binary;

namespace {

template <typename Finish>
vt::Bytes Build(Finish finish) {
  flatbuffers::FlatBufferBuilder64 fbb(1024);
  finish(fbb);
  return vt::Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

}  // namespace

TEST(SchemaDefaults, EmptyTablesReadAsTheirDefaults) {
  const vt::Bytes bytes = Build([](flatbuffers::FlatBufferBuilder64 &fbb) {
    auto version = vb::ModelVersionBuilder(fbb).Finish();
    auto config = vb::ModelConfigBuilder(fbb).Finish();
    auto tensor = vb::TensorInfoBuilder(fbb).Finish();
    auto inputs = fbb.CreateVector(std::vector{tensor});
    vb::ModelBuilder model(fbb);
    model.add_model_version(version);
    model.add_config(config);
    model.add_inputs(inputs);
    vb::FinishModelBuffer(fbb, model.Finish());
  });
  ASSERT_TRUE(vb::VerifyModelBuffer(bytes.data(), bytes.size()));
  const vb::Model *model = vb::GetModel(bytes.data());
  EXPECT_EQ(model->model_version()->magic(), 0x546F6C7665783338ull);
  EXPECT_EQ(model->model_version()->version(), 0u);
  const vb::ModelConfig *config = model->config();
  EXPECT_EQ(config->args_num(), 0);
  EXPECT_EQ(config->core_num(), 0);
  EXPECT_EQ(config->tile_num(), 4);
  EXPECT_EQ(config->option_word(), 0u);
  EXPECT_FALSE(config->option_flag_a());
  EXPECT_TRUE(config->option_flag_b());
  EXPECT_TRUE(config->option_flag_c());
  EXPECT_EQ(config->batch_num(), 1);
  EXPECT_FALSE(config->pack_inout());
  const vb::TensorInfo *tensor = model->inputs()->Get(0);
  EXPECT_EQ(tensor->format(), vb::TensorFmt_FMT_ND);
  EXPECT_EQ(tensor->mem_type(), vb::DeviceType_DEV0);
  EXPECT_EQ(tensor->dtype(), nullptr);
  EXPECT_EQ(model->raw_data(), nullptr);
}

TEST(SchemaDefaults, ContainerGraphDefaults) {
  const vt::Bytes bytes = Build([](flatbuffers::FlatBufferBuilder64 &fbb) {
    auto launch = vb::LaunchAttributeBuilder(fbb).Finish();
    auto block = vb::BlockAttributeBuilder(fbb).Finish();
    auto value = vb::ValueDefBuilder(fbb).Finish();
    auto values = fbb.CreateVector(std::vector{value});
    auto launch_op = vb::CreateOperation(fbb, vb::OpType_Launch, values, 0, 0, vb::SpecificAttribute_LaunchAttribute,
                                         launch.Union());
    auto block_op = vb::CreateOperation(fbb, vb::OpType_BlockStart, 0, 0, 0, vb::SpecificAttribute_BlockAttribute,
                                        block.Union());
    auto bare_op = vb::OperationBuilder(fbb).Finish();
    auto ops = fbb.CreateVector(std::vector{launch_op, block_op, bare_op});
    vb::ModelsBuilder models(fbb);
    models.add_operations(ops);
    vb::FinishModelsBuffer(fbb, models.Finish());
  });
  ASSERT_TRUE(vb::VerifyModelsBuffer(bytes.data(), bytes.size()));
  const auto *ops = vb::GetModels(bytes.data())->operations();
  const vb::LaunchAttribute *launch = ops->Get(0)->spec_attr_as_LaunchAttribute();
  ASSERT_NE(launch, nullptr);
  EXPECT_EQ(launch->kernel_group_id(), -1);
  EXPECT_EQ(launch->kernel_indx(), 0);
  EXPECT_EQ(ops->Get(0)->oprands()->Get(0)->dev_type(), vb::DeviceType_DEV0);
  const vb::BlockAttribute *block = ops->Get(1)->spec_attr_as_BlockAttribute();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->block_type(), vb::BlockType_Default);
  EXPECT_EQ(ops->Get(2)->op_type(), vb::OpType_Parallel);
  EXPECT_EQ(ops->Get(2)->spec_attr_type(), vb::SpecificAttribute_NONE);
}

TEST(SchemaDefaults, AttributeStringAccessor) {
  vt::ModelSpec spec;
  vt::AttrSpec text;
  text.name = "text";
  text.text = "hello";
  vt::AttrSpec absent = text;
  absent.name = "absent";
  absent.value_absent = true;
  vt::AttrSpec bytes;
  bytes.name = "bytes";
  bytes.kind = vt::AttrSpec::Kind::kBytes;
  bytes.bytes = {1, 2, 3};
  spec.attrs = {text, absent, bytes};
  const vt::Bytes built = vt::BuildModel(spec);
  ASSERT_TRUE(vb::VerifyModelBuffer(built.data(), built.size()));
  const auto *attrs = vb::GetModel(built.data())->attrs();
  ASSERT_NE(attrs->Get(0)->value_as_str(), nullptr);
  EXPECT_EQ(attrs->Get(0)->value_as_str()->str(), "hello");
  EXPECT_EQ(attrs->Get(1)->value_type(), vb::AttrValue_str);
  EXPECT_EQ(attrs->Get(1)->value_as_str(), nullptr);
  EXPECT_EQ(attrs->Get(2)->value_as_str(), nullptr);
  ASSERT_NE(attrs->Get(2)->value_as_AttrByte(), nullptr);
  EXPECT_EQ(attrs->Get(2)->value_as_AttrByte()->data()->size(), 3u);
}

TEST(SchemaDefaults, EnumNameTablesKeepTheGaps) {
  EXPECT_STREQ(vb::EnumNameDeviceType(vb::DeviceType_PLACEHOLDER), "PLACEHOLDER");
  EXPECT_STREQ(vb::EnumNamesDeviceType()[vb::DeviceType_COMPND + 2], "COMPND");
  EXPECT_STREQ(vb::EnumNamesDeviceType()[3 + 2], "");
  EXPECT_STREQ(vb::EnumNamesTypeCode()[vb::TypeCode_STRING], "STRING");
  EXPECT_STREQ(vb::EnumNamesTypeCode()[7], "");
  EXPECT_STREQ(vb::EnumNamesTensorFmt()[vb::TensorFmt_FMT_ND], "FMT_ND");
}
