// Loading inputs and the single-model checks: the schema stage with its dump,
// the runtime-required fields and the stripped-weight rules, each with its
// exact line on standard error.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"
#include "vadu_mmap.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::CapturedStreams;
using testing::ScratchDir;
using testing::WorkingDirectory;

constexpr uint64_t kMarker = 0xFFFFFFFFFFFFFFFFull;

struct CheckResult {
  bool passed;
  std::string out;
  std::string err;
};

CheckResult Check(const vt::Bytes &bytes, bool strict = true, bool dump = false, const std::string &dump_path = "") {
  CapturedStreams streams;
  const bool passed = WeightToolBase::VerifyQdmModel(bytes.data(), bytes.size(), strict, dump, dump_path);
  streams.Take();
  return {passed, streams.out(), streams.err()};
}

// A model that carries everything the strict check asks for.
vt::ModelSpec RuntimeReadyModel() {
  vt::ModelSpec spec = vt::SimpleModel("ready", {vt::Weight("w0", 1, 16, 3)});
  vt::BinarySpec kernel;
  kernel.name = "code";
  kernel.items = {vt::Weight("k", 9, 8, 1)};
  spec.kernels.push_back(kernel);
  return spec;
}

vt::Bytes ModelIdentifiedAs(const char *identifier) {
  vt::Bytes bytes = vt::BuildModel(RuntimeReadyModel());
  std::copy(identifier, identifier + 4, bytes.begin() + 4);
  return bytes;
}

TEST(ModelCheckTest, SchemaFailuresAreReportedAndDumpedOnRequest) {
  ScratchDir dir;
  WorkingDirectory cwd(dir.path());
  vt::Bytes root_zero = vt::BuildModel(RuntimeReadyModel());
  std::fill(root_zero.begin(), root_zero.begin() + 4, 0);
  const std::vector<vt::Bytes> broken = {vt::Bytes(11, 0), ModelIdentifiedAs("QDMS"), root_zero};
  for (const vt::Bytes &bytes : broken) {
    const CheckResult r = Check(bytes, false);
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(r.err, "[ERROR] Model FlatBuffer verification failed!\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists("model_verify_failed.bin"));

  const vt::Bytes &qdms = broken[1];
  const CheckResult dumped = Check(qdms, true, true);
  EXPECT_EQ(dumped.err, "[ERROR] Model FlatBuffer verification failed!\n[INFO] Dumped failing buffer to "
                        "./model_verify_failed.bin (size: " +
                            std::to_string(qdms.size()) + " bytes)\n");
  EXPECT_EQ(vt::ReadFile("model_verify_failed.bin"), qdms);

  const std::string named = dir.File("named.bin");
  EXPECT_EQ(Check(qdms, true, true, named).err,
            "[ERROR] Model FlatBuffer verification failed!\n[INFO] Dumped failing buffer to " + named +
                " (size: " + std::to_string(qdms.size()) + " bytes)\n");
  EXPECT_EQ(vt::ReadFile(named), qdms);

  const std::string unwritable = dir.File("missing/dump.bin");
  EXPECT_EQ(Check(qdms, true, true, unwritable).err,
            "[ERROR] Model FlatBuffer verification failed!\n[WARN] Failed to write dump file to " + unwritable +
                "\n");
  // A dump that cannot reach the disk is not reported as written.
  EXPECT_EQ(Check(qdms, true, true, "/dev/full").err,
            "[ERROR] Model FlatBuffer verification failed!\n[WARN] Failed to write dump file to /dev/full\n");
}

TEST(ModelCheckTest, StrictFailuresNeverDump) {
  ScratchDir dir;
  WorkingDirectory cwd(dir.path());
  vt::ModelSpec spec = RuntimeReadyModel();
  spec.config.reset();
  const CheckResult r = Check(vt::BuildModel(spec), true, true);
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.err, "[ERROR] Runtime-required field 'config' is null in output model\n");
  EXPECT_FALSE(std::filesystem::exists("model_verify_failed.bin"));
}

TEST(ModelCheckTest, RuntimeRequiredFieldsInOrder) {
  EXPECT_TRUE(Check(vt::BuildModel(RuntimeReadyModel())).passed);

  vt::ModelSpec no_io = RuntimeReadyModel();
  no_io.inputs.clear();
  no_io.outputs.clear();
  EXPECT_EQ(Check(vt::BuildModel(no_io)).err, "[ERROR] Runtime-required field 'inputs' is null in output model\n");
  // Only the strict check looks at the fields.
  EXPECT_TRUE(Check(vt::BuildModel(no_io), false).passed);

  vt::ModelSpec no_outputs = RuntimeReadyModel();
  no_outputs.outputs.clear();
  EXPECT_EQ(Check(vt::BuildModel(no_outputs)).err,
            "[ERROR] Runtime-required field 'outputs' is null in output model\n");

  vt::ModelSpec no_quant = RuntimeReadyModel();
  no_quant.quant_info.reset();
  no_quant.config.reset();
  EXPECT_EQ(Check(vt::BuildModel(no_quant)).err,
            "[ERROR] Runtime-required field 'quant_info' is null in output model\n"
            "        (non-quantized models must write an empty vector, not null)\n");

  vt::ModelSpec no_kernels = RuntimeReadyModel();
  no_kernels.kernels.clear();
  EXPECT_EQ(Check(vt::BuildModel(no_kernels)).err,
            "[ERROR] Runtime-required field 'kernels' is null in output model\n");

  vt::ModelSpec no_config = RuntimeReadyModel();
  no_config.config.reset();
  EXPECT_EQ(Check(vt::BuildModel(no_config)).err,
            "[ERROR] Runtime-required field 'config' is null in output model\n");

  vt::ModelSpec no_weights = RuntimeReadyModel();
  no_weights.weights.clear();
  const CheckResult r = Check(vt::BuildModel(no_weights));
  EXPECT_TRUE(r.passed);
  EXPECT_EQ(r.err, "");
}

vt::ItemSpec Stripped(const std::string &name, uint64_t hash, size_t size) {
  vt::ItemSpec item = vt::Weight(name, hash, size, 0);
  item.offset = kMarker;
  return item;
}

vt::BinarySpec SharedWeights(std::vector<vt::ItemSpec> items) {
  vt::BinarySpec blob;
  blob.name = "shared_weights";
  blob.items = std::move(items);
  return blob;
}

CheckResult CheckWithWeights(const std::vector<vt::BinarySpec> &extra) {
  vt::ModelSpec spec = RuntimeReadyModel();
  spec.weights.insert(spec.weights.end(), extra.begin(), extra.end());
  return Check(vt::BuildModel(spec));
}

TEST(ModelCheckTest, SharedWeightsRules) {
  // Empty data and an empty header list both pass.
  EXPECT_TRUE(CheckWithWeights({SharedWeights({})}).passed);
  EXPECT_TRUE(CheckWithWeights({SharedWeights({Stripped("a", 1, 8), Stripped("b", 2, 8)})}).passed);

  vt::BinarySpec with_data = SharedWeights({vt::Weight("a", 1, 8, 1)});
  EXPECT_EQ(CheckWithWeights({with_data}).err, "[ERROR] shared_weights Binary should not have data\n");

  vt::BinarySpec no_headers = SharedWeights({});
  no_headers.has_headers = false;
  EXPECT_EQ(CheckWithWeights({no_headers}).err, "[ERROR] shared_weights binary missing headers\n");

  vt::ItemSpec placed = Stripped("", 5, 8);
  placed.offset = 0;  // left out of the table: reads as 0
  EXPECT_EQ(CheckWithWeights({SharedWeights({placed})}).err,
            "[ERROR] shared_weights header offset must be STRIPPED_WEIGHT_OFFSET_MARKER (0xffffffffffffffff): "
            "unknown (actual offset: 0x0)\n");
  vt::ItemSpec at_hex = Stripped("w", 5, 8);
  at_hex.offset = 0x1A0;
  EXPECT_EQ(CheckWithWeights({SharedWeights({at_hex})}).err,
            "[ERROR] shared_weights header offset must be STRIPPED_WEIGHT_OFFSET_MARKER (0xffffffffffffffff): "
            "w (actual offset: 0x1a0)\n");

  // Hashes must be unique across every shared_weights Binary of the model.
  const CheckResult repeated =
      CheckWithWeights({SharedWeights({Stripped("a", 7, 8)}), SharedWeights({Stripped("b", 8, 8), Stripped("c", 7, 4)})});
  EXPECT_EQ(repeated.err, "[ERROR] shared_weights header hash not unique: c\n");

  // A Binary whose name is absent is not a shared_weights Binary.
  vt::BinarySpec nameless = SharedWeights({});
  nameless.name = "";
  nameless.has_headers = false;
  EXPECT_EQ(CheckWithWeights({nameless}).err, "[ERROR] Non-shared weight binary missing headers: unknown\n");
  vt::BinarySpec named = nameless;
  named.name = "blob";
  EXPECT_EQ(CheckWithWeights({named}).err, "[ERROR] Non-shared weight binary missing headers: blob\n");
}

vt::BinarySpec RawBlob(vt::ItemSpec item, int32_t type = 3) {
  vt::BinarySpec blob;
  blob.name = "raw";
  blob.type = type;
  blob.items = {std::move(item)};
  return blob;
}

TEST(ModelCheckTest, RawOffsetAlignment) {
  vt::ItemSpec misplaced = vt::Weight("late", 3, 16, 0, 64);
  misplaced.offset = 96;
  EXPECT_EQ(CheckWithWeights({RawBlob(misplaced)}).err, "[ERROR] RAW_OFFSET alignment mismatch: late off=96 align=64\n");

  vt::ItemSpec empty = misplaced;
  empty.size = 0;
  vt::ItemSpec unaligned = misplaced;
  unaligned.align = 0;
  vt::ItemSpec marked = misplaced;
  marked.offset = kMarker;
  vt::ItemSpec odd = misplaced;
  odd.align = 3;
  odd.offset = 99;
  for (const vt::BinarySpec &blob : {RawBlob(empty), RawBlob(unaligned), RawBlob(marked), RawBlob(odd),
                                     RawBlob(misplaced, 0), RawBlob(misplaced, 1)}) {
    const CheckResult r = CheckWithWeights({blob});
    EXPECT_TRUE(r.passed) << r.err;
  }
}

TEST(ModelCheckTest, LoadingReportsEachFailure) {
  ScratchDir dir;
  const std::string good = dir.File("good.qdm");
  vt::WriteFile(good, vt::BuildModel(RuntimeReadyModel()));
  const std::string corrupt = dir.File("corrupt.qdm");
  vt::WriteFile(corrupt, vt::Bytes(200, 0x5A));
  const std::string empty = dir.File("empty.qdm");
  vt::WriteFile(empty, {});
  const std::string missing = dir.File("missing.qdm");
  const std::string directory = dir.File("folder.qdm");
  std::filesystem::create_directory(directory);

  {
    ReadOnlyMMapFile file;
    const vb::Model *model = WeightToolBase::LoadModelFromFile(file, good);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->name()->str(), "ready");
  }
  struct Case {
    std::string path;
    std::string err;
  };
  const std::vector<Case> cases = {
      {missing, "[ERROR] Loading model failed: " + missing + "\n"},
      {directory, "[ERROR] Loading model failed: " + directory + "\n"},
      {corrupt, "[ERROR] Model FlatBuffer verification failed!\n"},
      {empty, "[ERROR] Model FlatBuffer verification failed!\n"},
  };
  for (const Case &c : cases) {
    ReadOnlyMMapFile file;
    CapturedStreams streams;
    const vb::Model *model = WeightToolBase::LoadModelFromFile(file, c.path);
    streams.Take();
    EXPECT_EQ(model, nullptr) << c.path;
    EXPECT_EQ(streams.err(), c.err);
  }
}

TEST(ModelCheckTest, LoadingContainers) {
  ScratchDir dir;
  vt::ContainerSpec spec;
  vt::SubModelSpec sub;
  sub.bytes = vt::BuildModel(RuntimeReadyModel());
  sub.name = "m0";
  spec.models.push_back(sub);
  const std::string good = dir.File("good.qdms");
  vt::WriteFile(good, vt::BuildContainer(spec));
  const std::string single = dir.File("single.qdms");
  vt::WriteFile(single, vt::BuildModel(RuntimeReadyModel()));
  const std::string missing = dir.File("missing.qdms");

  {
    ReadOnlyMMapFile file;
    const vb::Models *models = WeightToolBase::LoadModelsFromFile(file, good);
    ASSERT_NE(models, nullptr);
    EXPECT_EQ(models->model_headers()->Get(0)->name()->str(), "m0");
  }
  for (const auto &[path, err] : std::vector<std::pair<std::string, std::string>>{
           {missing, "[ERROR] Loading models container failed: " + missing + "\n"},
           {single, "[ERROR] VerifyModelsBuffer failed: " + single + "\n"}}) {
    ReadOnlyMMapFile file;
    CapturedStreams streams;
    EXPECT_EQ(WeightToolBase::LoadModelsFromFile(file, path), nullptr);
    streams.Take();
    EXPECT_EQ(streams.err(), err);
  }
}

}  // namespace
}  // namespace vadu::qdmstrip
