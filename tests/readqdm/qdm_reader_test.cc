#include <cstring>
#include <limits>

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

AttrSpec Attr(const std::string &name, AttrSpec::Kind kind, const std::string &text = "") {
  AttrSpec a;
  a.name = name;
  a.kind = kind;
  a.text = text;
  return a;
}

TEST(QdmReader, InfoTakesConfigAndAttributesWithTheirPlaceholders) {
  ModelSpec spec;
  spec.version = 7;
  spec.config->pack_inout = true;
  spec.attrs = {Attr("zeta", AttrSpec::Kind::kString, "first"), Attr("bytes", AttrSpec::Kind::kBytes),
                Attr("odd", AttrSpec::Kind::kUndefined), Attr("name", AttrSpec::Kind::kString, "renamed"),
                Attr("zeta", AttrSpec::Kind::kString, "second")};
  const picojson::object info = Obj(ReadModel(spec), "info");

  EXPECT_EQ(Str(info, "pack_inout"), "true");
  EXPECT_EQ(Int(info, "version"), 7);
  EXPECT_EQ(Str(info, "name"), "renamed");  // an attribute replaces a fixed key
  EXPECT_EQ(Str(info, "bytes"), "null");
  EXPECT_EQ(Str(info, "odd"), "null");
  EXPECT_EQ(Str(info, "zeta"), "second");  // the last attribute of a name wins
}

TEST(QdmReader, AbsentFieldsShowTheirEmptyForms) {
  ModelSpec spec;
  spec.name.reset();
  spec.has_version = false;
  spec.config.reset();
  spec.inputs.resize(1);
  spec.inputs[0].dtype.reset();
  spec.quant_info = std::vector<QuantSpec>(1);
  const picojson::object doc = ReadModel(spec);

  const picojson::object &info = Obj(doc, "info");
  EXPECT_EQ(Str(info, "name"), "");
  EXPECT_EQ(Int(info, "version"), 0);
  EXPECT_EQ(Int(info, "tile_num"), 4);
  EXPECT_EQ(Int(info, "batch_num"), 1);
  EXPECT_EQ(Str(info, "pack_inout"), "false");
  const picojson::object &tensor = Obj(Arr(doc, "input").at(0));
  EXPECT_EQ(Str(tensor, "name"), "");
  EXPECT_EQ(Str(tensor, "dtype"), "");
  EXPECT_TRUE(Arr(tensor, "shape").empty());
  EXPECT_TRUE(Arr(Obj(Obj(doc, "quant_info"), ""), "scale").empty());
  EXPECT_TRUE(Arr(doc, "weights").empty());
}

TEST(QdmReader, TensorNamesAndPlacementOutsideDev0) {
  TensorSpec t;
  t.dtype = DataTypeSpec{1, 8, 1};  // UINT, 8 bits
  t.mem_offset = 4096;
  t.sub_roi = {0, 1};
  t.sub_tensors.resize(1);
  ModelSpec spec;
  spec.inputs = {t, t, t};
  spec.inputs[0].layout_stride = {16, 1};
  spec.inputs[1].mem_type = 1;  // DEV1
  spec.inputs[2].dtype = DataTypeSpec{6, 8, 1};  // a gap in the code names
  spec.inputs[2].format = 7;
  spec.inputs[2].mem_type = 3;  // a gap in the device names
  const picojson::array inputs = Arr(ReadModel(spec), "input");

  const picojson::object &dev0 = Obj(inputs[0]);
  EXPECT_EQ(Keys(dev0),
            (Strings{"block_layout", "dtype", "format", "layout_stride", "mem_type", "name", "shape", "stride"}));
  EXPECT_EQ(Ints(dev0.at("layout_stride")), (std::vector<int64_t>{16, 1}));
  EXPECT_EQ(Str(dev0, "dtype"), "UINT8");
  EXPECT_EQ(Str(dev0, "format"), "FMT_ND");
  EXPECT_EQ(Str(dev0, "mem_type"), "DEV0");
  const picojson::object &dev1 = Obj(inputs[1]);
  EXPECT_EQ(Str(dev1, "mem_type"), "DEV1");
  EXPECT_EQ(Int(dev1, "mem_offset"), 4096);
  EXPECT_EQ(Ints(dev1.at("sub_roi")), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(Arr(dev1, "sub_tensor").size(), 1u);
  const picojson::object &odd = Obj(inputs[2]);
  EXPECT_EQ(Str(odd, "dtype"), "8");
  EXPECT_EQ(Str(odd, "format"), "");
  EXPECT_EQ(Str(odd, "mem_type"), "");
  EXPECT_EQ(odd.count("layout_stride"), 0u);
}

TEST(QdmReader, BinariesShowStrippedOffsetsAndLargeHashesAsSigned) {
  ItemSpec stripped = Weight("shared", 0xFFFFFFFFFFFFFFFEull, 0, 0);
  stripped.size = 1000;
  stripped.offset = std::numeric_limits<uint64_t>::max();
  ModelSpec spec = SimpleModel("m", {Weight("", 5, 65, 1), stripped});
  spec.weights[0].attrs = {Attr("kind", AttrSpec::Kind::kString, "conv"), Attr("blob", AttrSpec::Kind::kBytes)};
  BinarySpec headerless;
  headerless.name = "headerless";
  headerless.has_headers = false;
  spec.weights.push_back(headerless);
  spec.kernels.resize(1);
  const picojson::object doc = ReadModel(spec);

  const picojson::object &weights = Obj(Arr(doc, "weights").at(0));
  const picojson::array &headers = Arr(weights, "headers");
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(Str(Obj(headers[0]), "name"), "");
  EXPECT_EQ(Keys(Obj(headers[1])), (Strings{"hash", "name", "offset", "size"}));
  EXPECT_EQ(Int(Obj(headers[1]), "offset"), -1);
  EXPECT_EQ(Int(Obj(headers[1]), "hash"), -2);
  EXPECT_EQ(Str(Obj(weights, "attrs"), "kind"), "conv");
  EXPECT_EQ(Str(Obj(weights, "attrs"), "blob"), "RawData(Not support)");
  const picojson::object &kernels = Obj(Arr(doc, "kernels").at(0));
  EXPECT_EQ(Keys(kernels), (Strings{"headers", "name"}));
  EXPECT_TRUE(Arr(kernels, "headers").empty());
  EXPECT_EQ(Keys(Obj(Arr(doc, "weights").at(1))), (Strings{"name"}));
  // Stripped weights are estimated with their full size.
  EXPECT_EQ(Int(Obj(doc, "mem_usage"), "weights"), 128 + 1024);
}

TEST(QdmReader, MemoryEstimateRoundsEachPartUpTo64) {
  ModelSpec spec;
  spec.workspace = {{0, 100, 0, 0}, {0, 64, 0, 0}, {0, 1, 0, 0}};
  spec.inputs.resize(2);
  spec.inputs[0].size = 10;
  spec.inputs[1].size = 65;
  spec.outputs.resize(1);
  spec.outputs[0].size = 129;
  spec.weights = SimpleModel("m", {Weight("a", 1, 1, 0), Weight("b", 2, 65, 0)}).weights;
  spec.weights.emplace_back();
  spec.weights[1].items = {Weight("c", 3, 200, 0)};
  spec.kernels.resize(2);
  spec.kernels[0].items = {Weight("k", 0, 10, 0, 1), Weight("l", 0, 10, 0, 1)};  // 20 bytes of data
  spec.kernels[1].items = {Weight("m", 0, 65, 0)};
  const picojson::object usage = Obj(ReadModel(spec), "mem_usage");

  EXPECT_EQ(Ints(usage.at("workspace")), (std::vector<int64_t>{128, 64, 64}));
  EXPECT_EQ(Ints(usage.at("inout")), (std::vector<int64_t>{10, 65, 129}));
  EXPECT_EQ(Int(usage, "weights"), 64 + 128 + 256);  // per header
  EXPECT_EQ(Int(usage, "kernel"), 64 + 128);         // per blob, from its data length
  EXPECT_EQ(Int(usage, "total"), (128 + 64 + 64) + (64 + 128 + 192) + 448 + 192);
}

TEST(QdmReader, LaterQuantEntryOfTheSameNameWins) {
  ModelSpec spec;
  spec.quant_info = std::vector<QuantSpec>(2);
  for (QuantSpec &q : *spec.quant_info) q.name = "t";
  (*spec.quant_info)[1].scale = {0.1f};
  const picojson::object quant = Obj(ReadModel(spec), "quant_info");
  EXPECT_EQ(Keys(quant), (Strings{"t"}));
  EXPECT_EQ(Keys(Obj(quant, "t")), (Strings{"block_shape", "max", "min", "scale", "zero_point"}));
  EXPECT_EQ(Arr(Obj(quant, "t"), "scale").at(0).get<double>(), static_cast<double>(0.1f));
}

TEST(ModelDocument, RecognisesByTheVerifyingSchemaNotByTheIdentifier) {
  Bytes model = BuildModel(SimpleModel("m", {}));
  std::memcpy(model.data() + 4, "QDMS", 4);
  const auto single = readqdm::ParseModelDocument(model.data(), model.size());
  ASSERT_TRUE(single);
  EXPECT_EQ(Obj(*single).count("mem_usage"), 1u);

  ContainerSpec container;
  container.models.resize(1);
  container.models[0].bytes = model;
  Bytes bytes = BuildContainer(container);
  std::memcpy(bytes.data() + 4, "QDM0", 4);
  const auto multi = readqdm::ParseModelDocument(bytes.data(), bytes.size());
  ASSERT_TRUE(multi);
  EXPECT_EQ(Obj(*multi).count("models"), 1u);

  QdmReader reader;
  EXPECT_FALSE(reader.ParseToJson(model.data(), model.size() / 2));
  EXPECT_TRUE(reader.json.is<picojson::null>());  // untouched by a failed parse
}

}  // namespace
}  // namespace vadu::testing
