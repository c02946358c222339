#include <cmath>
#include <cstring>
#include <limits>

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include "json_test_util.h"
#include "model_document.h"
#include "model_factory.h"
#include "qdm_reader.h"

namespace vadu::testing {
namespace {

namespace vb = ::vadu::binary;
using Strings = std::vector<std::string>;

picojson::object ReadModel(const ModelSpec &spec) {
  QdmReader reader;
  return Parse(reader, BuildModel(spec));
}

AttrSpec Text(const std::string &name, const std::string &text) {
  AttrSpec a;
  a.name = name;
  a.text = text;
  return a;
}

AttrSpec OfKind(const std::string &name, AttrSpec::Kind kind) {
  AttrSpec a;
  a.name = name;
  a.kind = kind;
  a.bytes = {1, 2};
  return a;
}

TEST(QdmReader, DocumentHoldsEveryKeyOfASingleModel) {
  const picojson::object doc = ReadModel(SimpleModel("m", {Weight("w", 1, 8, 0)}));
  EXPECT_EQ(Keys(doc), (Strings{"info", "input", "kernels", "mem_usage", "output", "quant_info", "weights"}));
}

TEST(QdmReader, InfoTakesConfigAndAttributesWithTheirPlaceholders) {
  ModelSpec spec;
  spec.version = 7;
  spec.config->core_num = 2;
  spec.config->pack_inout = true;
  spec.attrs = {Text("zeta", "first"), OfKind("bytes", AttrSpec::Kind::kBytes),
                OfKind("odd", AttrSpec::Kind::kUndefined), Text("name", "renamed"), Text("zeta", "second")};
  const picojson::object info = Obj(ReadModel(spec), "info");

  EXPECT_EQ(Str(info, "pack_inout"), "true");
  EXPECT_EQ(Int(info, "version"), 7);
  EXPECT_EQ(Int(info, "core_num"), 2);
  EXPECT_EQ(Int(info, "tile_num"), 4);
  EXPECT_EQ(Str(info, "name"), "renamed");  // an attribute replaces the fixed key
  EXPECT_EQ(Str(info, "bytes"), "null");
  EXPECT_EQ(Str(info, "odd"), "null");
  EXPECT_EQ(Str(info, "zeta"), "second");  // the last attribute of a name wins
}

TEST(QdmReader, AbsentModelFieldsShowTheirEmptyForms) {
  ModelSpec spec;
  spec.name.reset();
  spec.has_version = false;
  spec.config.reset();
  spec.quant_info.reset();
  const picojson::object doc = ReadModel(spec);
  const picojson::object &info = Obj(doc, "info");

  EXPECT_EQ(Str(info, "name"), "");
  EXPECT_EQ(Int(info, "version"), 0);
  EXPECT_EQ(Int(info, "args_num"), 0);
  EXPECT_EQ(Int(info, "tile_num"), 4);
  EXPECT_EQ(Int(info, "batch_num"), 1);
  EXPECT_EQ(Str(info, "pack_inout"), "false");
  EXPECT_TRUE(Arr(doc, "input").empty());
  EXPECT_TRUE(Arr(doc, "weights").empty());
  EXPECT_TRUE(Obj(doc, "quant_info").empty());
  EXPECT_EQ(Int(Obj(doc, "mem_usage"), "total"), 0);
}

TEST(QdmReader, TensorTypeAndEnumerationNames) {
  ModelSpec spec;
  TensorSpec t;
  t.name = "a";
  t.dtype = DataTypeSpec{1, 8, 1};  // UINT, 8 bits
  spec.inputs.push_back(t);
  t.dtype = DataTypeSpec{6, 8, 1};  // a gap in the code names
  t.format = 7;
  spec.inputs.push_back(t);
  t.dtype.reset();
  t.format = -1;
  t.mem_type = 3;  // a gap in the device names
  spec.inputs.push_back(t);
  t.mem_type = -3;  // below the first device
  spec.inputs.push_back(t);
  const picojson::array inputs = Arr(ReadModel(spec), "input");

  ASSERT_EQ(inputs.size(), 4u);
  EXPECT_EQ(Str(Obj(inputs[0]), "dtype"), "UINT8");
  EXPECT_EQ(Str(Obj(inputs[0]), "format"), "FMT_ND");
  EXPECT_EQ(Str(Obj(inputs[0]), "mem_type"), "DEV0");
  EXPECT_EQ(Str(Obj(inputs[1]), "dtype"), "8");
  EXPECT_EQ(Str(Obj(inputs[1]), "format"), "");
  EXPECT_EQ(Str(Obj(inputs[2]), "dtype"), "");
  EXPECT_EQ(Str(Obj(inputs[2]), "format"), "");
  EXPECT_EQ(Str(Obj(inputs[2]), "mem_type"), "");
  EXPECT_EQ(Str(Obj(inputs[3]), "mem_type"), "");
}

TEST(QdmReader, MemoryPlacementIsShownOnlyOutsideDev0) {
  TensorSpec t;
  t.name = "x";
  t.shape = {1, 2};
  t.mem_offset = 4096;
  t.sub_roi = {0, 1};
  TensorSpec sub;
  sub.name = "part";
  sub.mem_type = 1;
  sub.mem_offset = 8;
  t.sub_tensors = {sub};
  ModelSpec spec;
  t.mem_type = 1;  // DEV1
  spec.inputs.push_back(t);
  t.mem_type = 0;
  t.layout_stride = {4};
  spec.inputs.push_back(t);
  const picojson::array inputs = Arr(ReadModel(spec), "input");

  const picojson::object &dev1 = Obj(inputs[0]);
  EXPECT_EQ(Keys(dev1), (Strings{"block_layout", "dtype", "format", "mem_offset", "mem_type", "name", "shape",
                                 "stride", "sub_roi", "sub_tensor"}));
  EXPECT_EQ(Int(dev1, "mem_offset"), 4096);
  EXPECT_EQ(Ints(dev1.at("sub_roi")), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(Int(Obj(Arr(dev1, "sub_tensor").at(0)), "mem_offset"), 8);

  const picojson::object &dev0 = Obj(inputs[1]);
  EXPECT_EQ(Keys(dev0), (Strings{"block_layout", "dtype", "format", "layout_stride", "mem_type", "name", "shape",
                                 "stride"}));
  EXPECT_TRUE(Arr(dev0, "stride").empty());
}

TEST(QdmReader, BinaryHeadersShowStrippedOffsetsAndLargeHashesAsSigned) {
  ModelSpec spec;
  BinarySpec blob;
  blob.name = "weights";
  blob.type = vb::BinaryType_RAW_OFFSET;
  ItemSpec stripped = Weight("shared", 0xFFFFFFFFFFFFFFFEull, 0, 0);
  stripped.size = 100;
  stripped.offset = std::numeric_limits<uint64_t>::max();
  ItemSpec unnamed = Weight("", 5, 16, 1);
  blob.items = {stripped, unnamed};
  blob.attrs = {Text("kind", "conv"), OfKind("blob", AttrSpec::Kind::kBytes)};
  spec.weights.push_back(blob);
  BinarySpec empty;
  empty.name = "kernels";
  spec.kernels.push_back(empty);
  const picojson::object doc = ReadModel(spec);

  const picojson::object &weights = Obj(Arr(doc, "weights").at(0));
  EXPECT_EQ(Str(weights, "name"), "weights");
  const picojson::array &headers = Arr(weights, "headers");
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(Keys(Obj(headers[0])), (Strings{"hash", "name", "offset", "size"}));
  EXPECT_EQ(Int(Obj(headers[0]), "offset"), -1);
  EXPECT_EQ(Int(Obj(headers[0]), "hash"), -2);
  EXPECT_EQ(Int(Obj(headers[0]), "size"), 100);
  EXPECT_EQ(Str(Obj(headers[1]), "name"), "");
  EXPECT_EQ(Str(Obj(weights, "attrs"), "kind"), "conv");
  EXPECT_EQ(Str(Obj(weights, "attrs"), "blob"), "RawData(Not support)");

  const picojson::object &kernels = Obj(Arr(doc, "kernels").at(0));
  EXPECT_TRUE(Arr(kernels, "headers").empty());
  EXPECT_EQ(kernels.count("attrs"), 0u);
}

TEST(QdmReader, BinaryWithoutHeadersOrNameHasNoHeadersKey) {
  flatbuffers::FlatBufferBuilder64 fbb;
  fbb.DedupVtables(false);
  const auto blob = vb::CreateBinary(fbb);
  const auto weights = fbb.CreateVector(std::vector<flatbuffers::Offset<vb::Binary>>{blob});
  vb::ModelBuilder model(fbb);
  model.add_weights(weights);
  vb::FinishModelBuffer(fbb, model.Finish());
  const Bytes bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  QdmReader reader;
  const picojson::object doc = Parse(reader, bytes);

  const picojson::object &binary = Obj(Arr(doc, "weights").at(0));
  EXPECT_EQ(Keys(binary), (Strings{"name"}));
  EXPECT_EQ(Str(binary, "name"), "");
  EXPECT_EQ(Int(Obj(doc, "mem_usage"), "weights"), 0);
}

TEST(QdmReader, QuantInfoKeepsTheLastEntryOfANameAndPrintsNonFiniteFloatsAsNull) {
  ModelSpec spec;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  spec.quant_info = std::vector<QuantSpec>{{"t", {1.0f}, {0.0f}, {1}, 0.0f, 1.0f},
                                           {"t", {0.1f, nan}, {-inf}, {2, 2}, inf, 3.0f},
                                           {"", {}, {}, {}, 0.0f, 0.0f}};
  const picojson::object quant = Obj(ReadModel(spec), "quant_info");

  EXPECT_EQ(Keys(quant), (Strings{"", "t"}));
  const picojson::object &t = Obj(quant, "t");
  EXPECT_EQ(Keys(t), (Strings{"block_shape", "max", "min", "scale", "zero_point"}));
  ASSERT_EQ(Arr(t, "scale").size(), 2u);
  EXPECT_EQ(Arr(t, "scale")[0].get<double>(), static_cast<double>(0.1f));
  EXPECT_TRUE(Arr(t, "scale")[1].is<picojson::null>());
  EXPECT_TRUE(Arr(t, "zero_point")[0].is<picojson::null>());
  EXPECT_TRUE(t.at("min").is<picojson::null>());
  EXPECT_EQ(t.at("max").get<double>(), 3.0);
  EXPECT_EQ(Ints(t.at("block_shape")), (std::vector<int64_t>{2, 2}));
  EXPECT_TRUE(Arr(Obj(quant, ""), "scale").empty());
  // The whole document still serialises.
  EXPECT_NE(picojson::value(quant).serialize(true).find("null"), std::string::npos);
}

TEST(QdmReader, MemoryEstimateRoundsEveryItemUpTo64Bytes) {
  ModelSpec spec;
  spec.workspace = {{0, 100, 0, 0}};
  TensorSpec in;
  in.size = 10;
  TensorSpec out;
  out.size = 64;
  spec.inputs = {in};
  spec.outputs = {out};
  BinarySpec kernel;
  kernel.items = {Weight("k", 0, 1, 0)};
  spec.kernels = {kernel};
  const picojson::object usage = Obj(ReadModel(spec), "mem_usage");

  EXPECT_EQ(Keys(usage), (Strings{"inout", "kernel", "total", "weights", "workspace"}));
  EXPECT_EQ(Ints(usage.at("workspace")), (std::vector<int64_t>{128}));
  EXPECT_EQ(Ints(usage.at("inout")), (std::vector<int64_t>{10, 64}));
  EXPECT_EQ(Int(usage, "weights"), 0);
  EXPECT_EQ(Int(usage, "kernel"), 64);
  EXPECT_EQ(Int(usage, "total"), 320);
}

TEST(QdmReader, MemoryEstimateCountsStrippedWeightsWithTheirFullSize) {
  ModelSpec spec = SimpleModel("m", {Weight("kept", 1, 65, 0)});
  ItemSpec stripped = Weight("gone", 2, 0, 0);
  stripped.size = 1000;
  stripped.offset = std::numeric_limits<uint64_t>::max();
  spec.weights[0].items.push_back(stripped);
  spec.inputs.clear();
  spec.outputs.clear();
  const picojson::object usage = Obj(ReadModel(spec), "mem_usage");

  EXPECT_EQ(Int(usage, "weights"), 128 + 1024);
  EXPECT_EQ(Int(usage, "total"), 128 + 1024);
}

TEST(QdmReader, RejectsBytesTheModelSchemaDoesNotVerify) {
  QdmReader reader;
  const Bytes model = BuildModel(SimpleModel("m", {}));
  EXPECT_FALSE(reader.ParseToJson(nullptr, 0));
  EXPECT_FALSE(reader.ParseToJson(model.data(), 3));
  EXPECT_FALSE(reader.ParseToJson(model.data(), model.size() / 2));
  EXPECT_TRUE(reader.json.is<picojson::null>());  // untouched by a failed parse
}

TEST(ModelDocument, RecognisesByTheVerifyingSchemaNotByTheIdentifier) {
  Bytes model = BuildModel(SimpleModel("m", {}));
  std::memcpy(model.data() + 4, "QDMS", 4);
  const auto single = readqdm::ParseModelDocument(model.data(), model.size());
  ASSERT_TRUE(single);
  EXPECT_EQ(Obj(*single).count("mem_usage"), 1u);

  ContainerSpec container;
  SubModelSpec sub;
  sub.bytes = BuildModel(SimpleModel("sub", {}));
  sub.name = "sub";
  container.models = {sub};
  Bytes bytes = BuildContainer(container);
  std::memcpy(bytes.data() + 4, "QDM0", 4);
  const auto multi = readqdm::ParseModelDocument(bytes.data(), bytes.size());
  ASSERT_TRUE(multi);
  EXPECT_EQ(Obj(*multi).count("models"), 1u);
  EXPECT_EQ(Obj(*multi).count("mem_usage"), 0u);

  const Bytes nothing{1, 2, 3};
  EXPECT_FALSE(readqdm::ParseModelDocument(nothing.data(), nothing.size()));
  EXPECT_FALSE(readqdm::ParseModelDocument(nullptr, 0));
}

}  // namespace
}  // namespace vadu::testing
