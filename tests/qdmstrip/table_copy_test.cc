// The table-by-table copy of single-model tables: what is carried, what is
// dropped and which defaults a copy reads.
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
using testing::ModelOf;
using testing::Stores;
using testing::Text;
using testing::Values;

// Rebuilds a model from nothing but the copies of the source's tables.
vt::Bytes CopyModelTables(const vb::Model *source) {
  ToolBuilder b = MakeToolBuilder();
  auto kernels = b.CreateVector(TableCopy::CollectKernels(b, source));
  auto inputs = b.CreateVector(TableCopy::CollectInputs(b, source));
  auto outputs = b.CreateVector(TableCopy::CollectOutputs(b, source));
  auto quant = b.CreateVector(TableCopy::CollectQuantInfo(b, source));
  auto attrs = b.CreateVector(TableCopy::CollectAttrs(b, source));
  auto config = TableCopy::CollectConfig(b, source);
  vb::ModelBuilder model(b);
  model.add_kernels(kernels);
  model.add_inputs(inputs);
  model.add_outputs(outputs);
  model.add_quant_info(quant);
  model.add_attrs(attrs);
  if (!config.IsNull()) model.add_config(config);
  vb::FinishModelBuffer(b, model.Finish());
  return vt::Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

// A model holding only `attrs` and `inputs`, to read single copies back.
vt::Bytes ModelHolding(ToolBuilder &b, const OffsetList<vb::Attribute> &attrs,
                       const OffsetList<vb::TensorInfo> &inputs = {}) {
  auto attr_vector = b.CreateVector(attrs);
  auto input_vector = b.CreateVector(inputs);
  vb::ModelBuilder model(b);
  model.add_attrs(attr_vector);
  model.add_inputs(input_vector);
  vb::FinishModelBuffer(b, model.Finish());
  return vt::Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

vt::AttrSpec Attr(const std::string &name, vt::AttrSpec::Kind kind, const std::string &text = "") {
  vt::AttrSpec a;
  a.name = name;
  a.kind = kind;
  a.text = text;
  return a;
}

// Every kind of attribute the copy has to decide about.
std::vector<vt::AttrSpec> MixedAttrs() {
  using Kind = vt::AttrSpec::Kind;
  std::vector<vt::AttrSpec> attrs;
  attrs.push_back(Attr("text", Kind::kString, std::string("hello\0world", 11)));
  vt::AttrSpec no_value = Attr("no_value", Kind::kString);
  no_value.value_absent = true;
  attrs.push_back(no_value);
  attrs.push_back(Attr("", Kind::kString, "anonymous"));
  vt::AttrSpec bytes = Attr("bytes", Kind::kBytes);
  bytes.bytes = {1, 2, 3};
  bytes.bytes_dtype = vt::DataTypeSpec{1, 8, 3};
  attrs.push_back(bytes);
  vt::AttrSpec no_dtype = Attr("no_dtype", Kind::kBytes);
  no_dtype.bytes = {4};
  attrs.push_back(no_dtype);
  vt::AttrSpec byte_no_value = Attr("byte_no_value", Kind::kBytes);
  byte_no_value.value_absent = true;
  attrs.push_back(byte_no_value);
  attrs.push_back(Attr("type_seven", Kind::kUndefined, "x"));
  attrs.push_back(Attr("none", Kind::kNone));
  return attrs;
}

// What MixedAttrs must come out as: the str attributes (with or without value
// or name) and the complete AttrByte, in source order.
void ExpectCarriedAttrs(const flatbuffers::Vector<flatbuffers::Offset<vb::Attribute>> *copy) {
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->size(), 4u);
  const vb::Attribute *text = copy->Get(0);
  EXPECT_EQ(Text(text->name()), "text");
  ASSERT_EQ(text->value_type(), vb::AttrValue_str);
  EXPECT_EQ(Text(text->value_as_str()), std::string("hello\0world", 11));

  const vb::Attribute *no_value = copy->Get(1);
  EXPECT_EQ(Text(no_value->name()), "no_value");
  EXPECT_EQ(no_value->value_type(), vb::AttrValue_str);
  EXPECT_EQ(no_value->value(), nullptr);

  const vb::Attribute *anonymous = copy->Get(2);
  EXPECT_EQ(anonymous->name(), nullptr);
  EXPECT_EQ(Text(anonymous->value_as_str()), "anonymous");

  const vb::Attribute *bytes = copy->Get(3);
  EXPECT_EQ(Text(bytes->name()), "bytes");
  const vb::AttrByte *value = bytes->value_as_AttrByte();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(Values(value->data()), (std::vector<uint8_t>{1, 2, 3}));
  ASSERT_NE(value->dtype(), nullptr);
  EXPECT_EQ(value->dtype()->code(), vb::TypeCode_UINT);
  EXPECT_EQ(value->dtype()->bits(), 8);
  EXPECT_EQ(value->dtype()->lanes(), 3);
}

TEST(TableCopyTest, AttributesAreFilteredAlikeAtEveryPlace) {
  vt::ModelSpec spec;
  spec.attrs = MixedAttrs();
  vt::BinarySpec blob;
  blob.name = "blob";
  blob.attrs = MixedAttrs();
  spec.kernels.push_back(blob);
  spec.weights.push_back(blob);
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  const vb::Model *source = ModelOf(source_bytes);

  {
    SCOPED_TRACE("model attributes and kernel attributes");
    const vt::Bytes copy = CopyModelTables(source);
    ASSERT_TRUE(vb::VerifyModelBuffer(copy.data(), copy.size()));
    ExpectCarriedAttrs(ModelOf(copy)->attrs());
    ExpectCarriedAttrs(ModelOf(copy)->kernels()->Get(0)->attrs());
  }
  {
    SCOPED_TRACE("attributes of a weight Binary, null entries skipped");
    std::vector<const vb::Attribute *> listed(source->weights()->Get(0)->attrs()->begin(),
                                              source->weights()->Get(0)->attrs()->end());
    listed.insert(listed.begin() + 1, nullptr);
    ToolBuilder b = MakeToolBuilder();
    const vt::Bytes copy = ModelHolding(b, TableCopy::CollectBinaryAttrs(b, listed));
    ExpectCarriedAttrs(ModelOf(copy)->attrs());
  }
  {
    SCOPED_TRACE("one attribute at a time");
    ToolBuilder b = MakeToolBuilder();
    OffsetList<vb::Attribute> copied;
    for (const vb::Attribute *attr : *source->attrs()) {
      auto offset = TableCopy::CollectAttribute(b, attr);
      if (!offset.IsNull()) copied.push_back(offset);
    }
    EXPECT_TRUE(TableCopy::CollectAttribute(b, nullptr).IsNull());
    const vt::Bytes copy = ModelHolding(b, copied);
    ASSERT_TRUE(vb::VerifyModelBuffer(copy.data(), copy.size()));
    ExpectCarriedAttrs(ModelOf(copy)->attrs());
  }
}

vt::TensorSpec RichTensor() {
  vt::TensorSpec t;
  t.name = "image";
  t.format = 4;  // NCHW
  t.dtype = vt::DataTypeSpec{0, 8, 2};
  t.shape = {1, 3, 224, 224};
  t.size = 150528;
  t.stride = {150528, 50176, 224, 1};
  t.block_layout = {1, 32};
  t.layout_stride = {7, 7};
  t.mem_type = -1;  // HOST
  t.aux_name = "aux";
  t.mem_offset = 4096;
  vt::TensorSpec sub;
  sub.name = "sub";
  t.sub_tensors = {sub, sub};
  t.sub_roi = {0, 1};
  return t;
}

// Carried: format, dtype, name, shape, size, stride, block_layout. The rest reads as absent or default.
void ExpectCarriedTensor(const vb::TensorInfo *source, const vb::TensorInfo *copy) {
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->format(), source->format());
  if (source->dtype() == nullptr) {
    EXPECT_EQ(copy->dtype(), nullptr);
  } else {
    ASSERT_NE(copy->dtype(), nullptr);
    EXPECT_EQ(copy->dtype()->code(), source->dtype()->code());
    EXPECT_EQ(copy->dtype()->bits(), source->dtype()->bits());
    EXPECT_EQ(copy->dtype()->lanes(), source->dtype()->lanes());
  }
  EXPECT_EQ(Text(copy->name()), Text(source->name()));
  EXPECT_EQ(Values(copy->shape()), Values(source->shape()));
  EXPECT_EQ(copy->size(), source->size());
  EXPECT_EQ(Values(copy->stride()), Values(source->stride()));
  EXPECT_EQ(Values(copy->block_layout()), Values(source->block_layout()));
  EXPECT_EQ(copy->layout_stride(), nullptr);
  EXPECT_EQ(copy->mem_type(), vb::DeviceType_DEV0);
  EXPECT_EQ(copy->aux_name(), nullptr);
  EXPECT_EQ(copy->mem_offset(), 0u);
  EXPECT_EQ(copy->sub_tensor(), nullptr);
  EXPECT_EQ(copy->sub_roi(), nullptr);
}

TEST(TableCopyTest, TensorsCarrySevenFields) {
  vt::ModelSpec spec;
  spec.inputs.push_back(RichTensor());
  vt::TensorSpec bare;  // no dtype, no name, an empty shape, nothing else
  bare.dtype.reset();
  spec.inputs.push_back(bare);
  vt::TensorSpec output = RichTensor();
  output.name = "scores";
  output.format = 5;
  spec.outputs.push_back(output);
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  const vb::Model *source = ModelOf(source_bytes);
  // The factory leaves an empty shape out; the copy must keep a present empty one.
  ASSERT_EQ(source->inputs()->Get(1)->shape(), nullptr);

  const vt::Bytes copy = CopyModelTables(source);
  ASSERT_TRUE(vb::VerifyModelBuffer(copy.data(), copy.size()));
  const vb::Model *copied = ModelOf(copy);
  ASSERT_EQ(copied->inputs()->size(), 2u);
  ExpectCarriedTensor(source->inputs()->Get(0), copied->inputs()->Get(0));
  ExpectCarriedTensor(source->inputs()->Get(1), copied->inputs()->Get(1));
  ASSERT_EQ(copied->outputs()->size(), 1u);
  ExpectCarriedTensor(source->outputs()->Get(0), copied->outputs()->Get(0));

  ToolBuilder b = MakeToolBuilder();
  OffsetList<vb::TensorInfo> singles;
  for (const vb::TensorInfo *t : *source->inputs()) singles.push_back(TableCopy::CollectTensorInfo(b, t));
  EXPECT_TRUE(TableCopy::CollectTensorInfo(b, nullptr).IsNull());
  const vt::Bytes single_copy = ModelHolding(b, {}, singles);
  ExpectCarriedTensor(source->inputs()->Get(0), ModelOf(single_copy)->inputs()->Get(0));
  ExpectCarriedTensor(source->inputs()->Get(1), ModelOf(single_copy)->inputs()->Get(1));
}

TEST(TableCopyTest, PresentEmptyScalarVectorsStayPresent) {
  // Hand-built: a tensor whose shape and a quant whose scale are present but empty.
  flatbuffers::FlatBufferBuilder64 src;
  auto empty_shape = src.CreateVector(std::vector<int64_t>{});
  vb::DataType dtype(vb::TypeCode_FLOAT, 32, 1);
  auto tensor = vb::CreateTensorInfo(src, vb::TensorFmt_FMT_ND, &dtype, 0, empty_shape);
  auto tensors = src.CreateVector(std::vector<flatbuffers::Offset<vb::TensorInfo>>{tensor});
  auto empty_scale = src.CreateVector(std::vector<float>{});
  auto quant = vb::CreateTensorQuant(src, 0, empty_scale);
  auto quants = src.CreateVector(std::vector<flatbuffers::Offset<vb::TensorQuant>>{quant});
  vb::ModelBuilder model(src);
  model.add_inputs(tensors);
  model.add_quant_info(quants);
  vb::FinishModelBuffer(src, model.Finish());
  const vt::Bytes source_bytes(src.GetBufferPointer(), src.GetBufferPointer() + src.GetSize());

  const vt::Bytes copy = CopyModelTables(ModelOf(source_bytes));
  const vb::Model *copied = ModelOf(copy);
  ASSERT_NE(copied->inputs()->Get(0)->shape(), nullptr);
  EXPECT_EQ(copied->inputs()->Get(0)->shape()->size(), 0u);
  EXPECT_EQ(copied->inputs()->Get(0)->stride(), nullptr);
  ASSERT_NE(copied->quant_info()->Get(0)->scale(), nullptr);
  EXPECT_EQ(copied->quant_info()->Get(0)->scale()->size(), 0u);
  EXPECT_EQ(copied->quant_info()->Get(0)->zero_point(), nullptr);
}

TEST(TableCopyTest, QuantInfoAndConfigAreCopiedWhole) {
  vt::ModelSpec spec;
  vt::QuantSpec q;
  q.name = "conv1";
  q.scale = {0.5f, 0.25f};
  q.zero_point = {1.0f, 2.0f};
  q.block_shape = {1, 64};
  q.min = -3.5f;
  q.max = 7.25f;
  vt::QuantSpec bare;  // no name, no vectors, min and max 0
  spec.quant_info = std::vector<vt::QuantSpec>{q, bare};
  spec.config = vt::ConfigSpec{7, 2, 8, 0xABCD, true, false, false, 16, true};
  const vt::Bytes source_bytes = vt::BuildModel(spec);

  const vt::Bytes copy = CopyModelTables(ModelOf(source_bytes));
  const vb::Model *copied = ModelOf(copy);
  ASSERT_EQ(copied->quant_info()->size(), 2u);
  const vb::TensorQuant *cq = copied->quant_info()->Get(0);
  EXPECT_EQ(Text(cq->name()), "conv1");
  EXPECT_EQ(Values(cq->scale()), (std::vector<float>{0.5f, 0.25f}));
  EXPECT_EQ(Values(cq->zero_point()), (std::vector<float>{1.0f, 2.0f}));
  EXPECT_EQ(Values(cq->block_shape()), (std::vector<int64_t>{1, 64}));
  EXPECT_EQ(cq->min(), -3.5f);
  EXPECT_EQ(cq->max(), 7.25f);
  const vb::TensorQuant *cb = copied->quant_info()->Get(1);
  EXPECT_EQ(cb->name(), nullptr);
  EXPECT_EQ(cb->scale(), nullptr);
  EXPECT_EQ(cb->block_shape(), nullptr);
  EXPECT_EQ(cb->min(), 0.0f);

  const vb::ModelConfig *c = copied->config();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->args_num(), 7);
  EXPECT_EQ(c->core_num(), 2);
  EXPECT_EQ(c->tile_num(), 8);
  EXPECT_EQ(c->option_word(), 0xABCDu);
  EXPECT_TRUE(c->option_flag_a());
  EXPECT_FALSE(c->option_flag_b());
  EXPECT_FALSE(c->option_flag_c());
  EXPECT_EQ(c->batch_num(), 16);
  EXPECT_TRUE(c->pack_inout());
}

TEST(TableCopyTest, AbsentSourcesGiveEmptyResults) {
  vt::ModelSpec spec;
  spec.quant_info.reset();
  spec.config.reset();
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  ToolBuilder b = MakeToolBuilder();
  EXPECT_TRUE(TableCopy::CollectQuantInfo(b, ModelOf(source_bytes)).empty());
  EXPECT_TRUE(TableCopy::CollectKernels(b, ModelOf(source_bytes)).empty());
  EXPECT_TRUE(TableCopy::CollectConfig(b, ModelOf(source_bytes)).IsNull());
  EXPECT_TRUE(TableCopy::CollectInputs(b, nullptr).empty());
}

TEST(TableCopyTest, DefaultsAreStored) {
  // A config of defaults only still yields a table, with every default stored.
  vt::ModelSpec spec;
  spec.config = vt::ConfigSpec{};
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  ASSERT_FALSE(Stores(ModelOf(source_bytes)->config(), vb::ModelConfig::VT_TILE_NUM));

  ToolBuilder b = MakeToolBuilder();
  auto config = TableCopy::CollectConfig(b, ModelOf(source_bytes));
  vb::ModelBuilder model(b);
  model.add_config(config);
  vb::FinishModelBuffer(b, model.Finish());
  const vb::ModelConfig *copied = vb::GetModel(b.GetBufferPointer())->config();
  for (flatbuffers::voffset_t field : {vb::ModelConfig::VT_ARGS_NUM, vb::ModelConfig::VT_TILE_NUM,
                                       vb::ModelConfig::VT_OPTION_FLAG_B, vb::ModelConfig::VT_PACK_INOUT}) {
    EXPECT_TRUE(Stores(copied, field)) << "field " << field;
  }
  EXPECT_EQ(copied->tile_num(), 4);
  EXPECT_EQ(copied->batch_num(), 1);
  EXPECT_TRUE(copied->option_flag_c());
}

TEST(TableCopyTest, KernelsAreCopiedWholeWithOffsetsUnchanged) {
  vt::ModelSpec spec;
  vt::BinarySpec raw;
  raw.name = "kernels_raw";
  raw.type = vb::BinaryType_RAW_OFFSET;
  raw.items = {vt::Weight("k0", 11, 100, 1, 0), vt::Weight("k1", 12, 10, 2, 32)};
  raw.items[1].has_hash = false;
  vt::AttrSpec keep = Attr("arch", vt::AttrSpec::Kind::kString, "v2");
  raw.attrs = {keep, Attr("dropped", vt::AttrSpec::Kind::kNone)};
  vt::BinarySpec embedded;  // no name, an empty headers vector, an empty data vector
  vt::BinarySpec bad_attrs;
  bad_attrs.name = "only_dropped_attrs";
  bad_attrs.items = {vt::Weight("", 3, 5, 9, 4)};
  bad_attrs.attrs = {Attr("dropped", vt::AttrSpec::Kind::kUndefined, "x")};
  spec.kernels = {raw, embedded, bad_attrs};
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  const vb::Model *source = ModelOf(source_bytes);

  const vt::Bytes copy = CopyModelTables(source);
  ASSERT_TRUE(vb::VerifyModelBuffer(copy.data(), copy.size()));
  const auto *kernels = ModelOf(copy)->kernels();
  ASSERT_EQ(kernels->size(), 3u);

  const vb::Binary *k = kernels->Get(0);
  EXPECT_EQ(Text(k->name()), "kernels_raw");
  EXPECT_EQ(k->type(), vb::BinaryType_RAW_OFFSET);
  EXPECT_EQ(k->data(), nullptr);
  ASSERT_EQ(k->headers()->size(), 2u);
  for (flatbuffers::uoffset_t i = 0; i < 2; ++i) {
    const vb::BinaryHeader *s = source->kernels()->Get(0)->headers()->Get(i);
    const vb::BinaryHeader *h = k->headers()->Get(i);
    EXPECT_EQ(h->size(), s->size());
    EXPECT_EQ(h->offset(), s->offset());
    EXPECT_EQ(h->hash(), s->hash());
    EXPECT_EQ(h->align(), s->align());
    EXPECT_EQ(Text(h->name()), Text(s->name()));
  }
  EXPECT_EQ(k->headers()->Get(1)->offset(), 128u);
  ASSERT_EQ(k->attrs()->size(), 1u);
  EXPECT_EQ(Text(k->attrs()->Get(0)->value_as_str()), "v2");

  const vb::Binary *e = kernels->Get(1);
  EXPECT_EQ(e->name(), nullptr);
  EXPECT_EQ(e->headers(), nullptr);
  ASSERT_NE(e->data(), nullptr);
  EXPECT_EQ(e->data()->size(), 0u);
  EXPECT_EQ(e->attrs(), nullptr);
  EXPECT_EQ(e->type(), vb::BinaryType_EMBEDDED);
  EXPECT_TRUE(Stores(e, vb::Binary::VT_TYPE));

  const vb::Binary *d = kernels->Get(2);
  EXPECT_EQ(Values(d->data()), Values(source->kernels()->Get(2)->data()));
  EXPECT_EQ(d->headers()->Get(0)->name(), nullptr);
  EXPECT_EQ(d->attrs(), nullptr);
}

}  // namespace
}  // namespace vadu::qdmstrip
