// The progress bar, writing a finished buffer in chunks, checking written
// files, and the single-model rebuild with its exact lines.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model_verifier.h"
#include "progress_bar.h"
#include "stripped_weight_marker.h"
#include "test_support.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::CapturedStreams;
using testing::CompleteBar;
using testing::ModelOf;
using testing::ScratchDir;
using testing::Stores;

constexpr uint64_t kMiB = 1024 * 1024;

std::string Bar(uint64_t current, uint64_t total) {
  CapturedStreams streams;
  ShowProgressBar("Buffer Write", current, total);
  streams.Take();
  return streams.out();
}

TEST(ProgressBarTest, Layout) {
  EXPECT_EQ(Bar(2, 4), "\r[Buffer Write] Progress: [" + std::string(25, '=') + ">" + std::string(24, ' ') +
                           "] 50% (2/4)");
  EXPECT_EQ(Bar(0, 4), "\r[Buffer Write] Progress: [>" + std::string(49, ' ') + "] 0% (0/4)");
  // Single precision: 1/3 fills 16 cells and shows 33%.
  EXPECT_EQ(Bar(1, 3), "\r[Buffer Write] Progress: [" + std::string(16, '=') + ">" + std::string(33, ' ') +
                           "] 33% (1/3)");
  EXPECT_EQ(Bar(4, 4), CompleteBar("Buffer Write", 4));
  EXPECT_EQ(Bar(0, 0), CompleteBar("Buffer Write", 0));
}

struct WriteResult {
  int status;
  std::string out;
  std::string err;
};

WriteResult Write(const vt::Bytes &bytes, const std::string &path) {
  CapturedStreams streams;
  const int status = WeightToolBase::WriteBufferToFile(bytes.data(), bytes.size(), path, "Buffer Write");
  streams.Take();
  return {status, streams.out(), streams.err()};
}

std::string PartialBar(uint64_t current, uint64_t total) {
  return "\r[Buffer Write] Progress: [" + std::string(current * 50 / total, '=') + ">" +
         std::string(49 - current * 50 / total, ' ') + "] " + std::to_string(current * 100 / total) + "% (" +
         std::to_string(current) + "/" + std::to_string(total) + ")";
}

TEST(WriteBufferTest, WritesInFourMebibyteChunks) {
  ScratchDir dir;
  vt::Bytes nine(9 * kMiB);
  for (size_t i = 0; i < nine.size(); ++i) nine[i] = static_cast<uint8_t>(i * 31 + 7);
  const WriteResult r = Write(nine, dir.File("nine.bin"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[INFO] Buffer Write...\n" + PartialBar(4 * kMiB, 9 * kMiB) + PartialBar(8 * kMiB, 9 * kMiB) +
                       CompleteBar("Buffer Write", 9 * kMiB) + "[INFO] Saving...\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(vt::ReadFile(dir.File("nine.bin")), nine);

  const vt::Bytes four(4 * kMiB, 1);
  EXPECT_EQ(Write(four, dir.File("four.bin")).out,
            "[INFO] Buffer Write...\n" + CompleteBar("Buffer Write", 4 * kMiB) + "[INFO] Saving...\n");
  const vt::Bytes four_plus(4 * kMiB + 1, 2);
  EXPECT_EQ(Write(four_plus, dir.File("four_plus.bin")).out,
            "[INFO] Buffer Write...\n" + PartialBar(4 * kMiB, 4 * kMiB + 1) +
                CompleteBar("Buffer Write", 4 * kMiB + 1) + "[INFO] Saving...\n");

  // Nothing to write: no bar, an empty file that replaces the old content.
  const WriteResult empty = Write({}, dir.File("nine.bin"));
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "[INFO] Buffer Write...\n[INFO] Saving...\n");
  EXPECT_EQ(std::filesystem::file_size(dir.File("nine.bin")), 0u);
}

TEST(WriteBufferTest, FailuresAreReported) {
  ScratchDir dir;
  const std::string missing_dir = dir.File("no/such/dir/out.qdms");
  const WriteResult unopened = Write(vt::Bytes(100, 1), missing_dir);
  EXPECT_EQ(unopened.status, 1);
  EXPECT_EQ(unopened.out, "[INFO] Buffer Write...\n");
  EXPECT_EQ(unopened.err, "[ERROR] Cannot open output: " + missing_dir + "\n");

  // A full disk is a failure, for a buffer that fits the stream's buffer and for one that does not.
  for (uint64_t size : {uint64_t{100}, 5 * kMiB}) {
    const WriteResult full = Write(vt::Bytes(size, 1), "/dev/full");
    EXPECT_EQ(full.status, 1) << size;
    EXPECT_EQ(full.err, "[ERROR] Failed to write output: /dev/full\n") << size;
  }
}

// A model ready for the strict check, with weights in raw data.
vt::ModelSpec FullModel() {
  vt::ModelSpec spec = vt::SimpleModel("full", {vt::Weight("w0", 1, 100, 3), vt::Weight("w1", 2, 10, 5, 32)});
  spec.version = 42;
  spec.magic = 0x1122334455667788ull;
  spec.custom_msg = "built for tests";
  vt::BinarySpec kernel;
  kernel.name = "code";
  kernel.items = {vt::Weight("k", 9, 8, 1)};
  spec.kernels.push_back(kernel);
  spec.workspace = {{0, 4096, 1, 2}, {4096, 100, 3, 4}};
  vt::QuantSpec q;
  q.name = "input";
  q.scale = {0.5f};
  spec.quant_info = std::vector<vt::QuantSpec>{q};
  spec.config = vt::ConfigSpec{2, 4, 8, 1, true, false, true, 2, true};
  vt::AttrSpec attr;
  attr.name = "arch";
  attr.text = "v2";
  spec.attrs = {attr};
  return spec;
}

// Plays the strip and restore modes: raw data first, then the weight Binaries, then the rebuild.
struct Rebuild {
  bool ok;
  std::string out;
  std::string err;
};

Rebuild RunBuildWriteVerify(WeightToolBase &tool, const vb::Model &source, const std::string &path,
                            bool with_weights = true) {
  ToolBuilder &b = tool.builder();
  RawDataOffset raw = 0;
  OffsetList<vb::Binary> weights;
  if (with_weights) {
    raw = b.CreateVector64(std::vector<uint8_t>(64, 0xAB));
    auto name = b.CreateString("kept");
    auto header = vb::CreateBinaryHeader(b, 64, 0, 77, 0, name);
    auto headers = b.CreateVector(std::vector<flatbuffers::Offset<vb::BinaryHeader>>{header});
    auto stripped = vb::CreateBinaryHeader(b, 16, STRIPPED_WEIGHT_OFFSET_MARKER, 78, 0);
    auto stripped_headers = b.CreateVector(std::vector<flatbuffers::Offset<vb::BinaryHeader>>{stripped});
    weights.push_back(vb::CreateBinary(b, 0, headers, vb::BinaryType_RAW_OFFSET));
    weights.push_back(vb::CreateBinary(b, 0, stripped_headers, vb::BinaryType_RAW_OFFSET));
  }
  CapturedStreams streams;
  const bool ok = tool.BuildWriteVerify(source, weights, raw, path);
  streams.Take();
  return {ok, streams.out(), streams.err()};
}

std::string SuccessOutput(const std::string &path, uint64_t size) {
  return "[INFO] Creating Model...\n[INFO] Model Write...\n" + CompleteBar("Model Write", size) +
         "[INFO] Saving...\n[INFO] Verify...\n[DONE] Model written: " + path + " (size=" + std::to_string(size) +
         " bytes)\n";
}

TEST(BuildWriteVerifyTest, RebuildsTheModelAroundTheCallersWeights) {
  ScratchDir dir;
  const vt::Bytes source_bytes = vt::BuildModel(FullModel());
  const vb::Model *source = ModelOf(source_bytes);
  const std::string path = dir.File("out.qdm");
  WeightToolBase tool;
  const Rebuild r = RunBuildWriteVerify(tool, *source, path);
  ASSERT_TRUE(r.ok) << r.err;
  const vt::Bytes written = vt::ReadFile(path);
  EXPECT_EQ(written, vt::Bytes(tool.builder().GetBufferPointer(),
                               tool.builder().GetBufferPointer() + tool.builder().GetSize()));
  EXPECT_EQ(r.out, SuccessOutput(path, written.size()));
  EXPECT_EQ(r.err, "");

  ASSERT_TRUE(vb::VerifyModelBuffer(written.data(), written.size()));
  const vb::Model *m = ModelOf(written);
  EXPECT_EQ(m->model_version()->version(), 42u);
  EXPECT_EQ(m->model_version()->magic(), 0x1122334455667788ull);
  EXPECT_EQ(m->name()->str(), "full");
  EXPECT_EQ(m->custom_msg()->str(), "built for tests");
  // The caller's weights and raw data, not the source's.
  ASSERT_EQ(m->weights()->size(), 2u);
  EXPECT_EQ(m->weights()->Get(0)->headers()->Get(0)->hash(), 77u);
  EXPECT_EQ(m->weights()->Get(1)->headers()->Get(0)->offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(m->raw_data()->size(), 64u);
  EXPECT_EQ(m->raw_data()->Get(0), 0xAB);
  ASSERT_EQ(m->kernels()->size(), 1u);
  EXPECT_EQ(m->kernels()->Get(0)->name()->str(), "code");
  EXPECT_EQ(m->kernels()->Get(0)->data()->size(), source->kernels()->Get(0)->data()->size());
  ASSERT_EQ(m->workspace()->size(), 2u);
  EXPECT_EQ(m->workspace()->Get(1)->offset(), 4096u);
  EXPECT_EQ(m->workspace()->Get(1)->size(), 100u);
  EXPECT_EQ(m->workspace()->Get(1)->extra0(), 3u);
  EXPECT_EQ(m->workspace()->Get(1)->extra1(), 4u);
  EXPECT_EQ(m->inputs()->Get(0)->name()->str(), "input");
  EXPECT_EQ(m->outputs()->Get(0)->size(), 40);
  EXPECT_EQ(m->quant_info()->Get(0)->scale()->Get(0), 0.5f);
  EXPECT_EQ(m->config()->tile_num(), 8);
  EXPECT_TRUE(m->config()->pack_inout());
  EXPECT_FALSE(m->config()->option_flag_b());
  EXPECT_EQ(m->attrs()->Get(0)->value_as_str()->str(), "v2");
}

TEST(BuildWriteVerifyTest, MissingSourceFieldsGetDefaultsAndEmptyVectors) {
  ScratchDir dir;
  vt::ModelSpec spec;
  spec.has_version = false;
  spec.name.reset();
  spec.quant_info.reset();
  vt::BinarySpec kernel;
  kernel.name = "code";
  spec.kernels.push_back(kernel);
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  const std::string path = dir.File("out.qdm");
  WeightToolBase tool;
  const Rebuild r = RunBuildWriteVerify(tool, *ModelOf(source_bytes), path, false);
  ASSERT_TRUE(r.ok) << r.err;
  const vt::Bytes written = vt::ReadFile(path);
  const vb::Model *m = ModelOf(written);
  ASSERT_NE(m->model_version(), nullptr);
  EXPECT_EQ(m->model_version()->version(), 0u);
  EXPECT_EQ(m->model_version()->magic(), 0x546F6C7665783338ull);
  EXPECT_TRUE(Stores(m->model_version(), vb::ModelVersion::VT_MAGIC));
  EXPECT_TRUE(Stores(m->model_version(), vb::ModelVersion::VT_VERSION));
  for (const auto *vector : {static_cast<const void *>(m->inputs()), static_cast<const void *>(m->outputs()),
                             static_cast<const void *>(m->quant_info()), static_cast<const void *>(m->attrs())}) {
    EXPECT_NE(vector, nullptr);
  }
  EXPECT_EQ(m->inputs()->size(), 0u);
  EXPECT_EQ(m->quant_info()->size(), 0u);
  EXPECT_EQ(m->weights(), nullptr);
  EXPECT_EQ(m->raw_data(), nullptr);
  EXPECT_EQ(m->workspace(), nullptr);
  EXPECT_EQ(m->name(), nullptr);
  EXPECT_EQ(m->custom_msg(), nullptr);
}

TEST(BuildWriteVerifyTest, TensorWithoutDtypeIsCopiedWithout) {
  ScratchDir dir;
  vt::ModelSpec spec = FullModel();
  spec.inputs[0].dtype.reset();
  const vt::Bytes source_bytes = vt::BuildModel(spec);
  const std::string path = dir.File("out.qdm");
  WeightToolBase tool;
  ASSERT_TRUE(RunBuildWriteVerify(tool, *ModelOf(source_bytes), path).ok);
  const vt::Bytes written = vt::ReadFile(path);
  EXPECT_EQ(ModelOf(written)->inputs()->Get(0)->dtype(), nullptr);
  EXPECT_NE(ModelOf(written)->outputs()->Get(0)->dtype(), nullptr);
}

TEST(BuildWriteVerifyTest, FailureTable) {
  ScratchDir dir;
  const vt::Bytes source_bytes = vt::BuildModel(FullModel());
  const vb::Model &source = *ModelOf(source_bytes);

  {
    SCOPED_TRACE("missing directory");
    const std::string path = dir.File("missing/out.qdm");
    WeightToolBase tool;
    const Rebuild r = RunBuildWriteVerify(tool, source, path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "[INFO] Creating Model...\n[INFO] Model Write...\n");
    EXPECT_EQ(r.err, "[ERROR] Cannot open output: " + path + "\n[ERROR] Failed to write model to: " + path + "\n");
  }
  {
    SCOPED_TRACE("full disk");
    WeightToolBase tool;
    const Rebuild r = RunBuildWriteVerify(tool, source, "/dev/full");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out.find("[INFO] Verify"), std::string::npos);
    EXPECT_EQ(r.err, "[ERROR] Failed to write output: /dev/full\n[ERROR] Failed to write model to: /dev/full\n");
  }
  {
    SCOPED_TRACE("strict check of the buffer fails; the file stays");
    vt::ModelSpec spec = FullModel();
    spec.config.reset();
    const vt::Bytes no_config = vt::BuildModel(spec);
    const std::string path = dir.File("no_config.qdm");
    WeightToolBase tool;
    const Rebuild r = RunBuildWriteVerify(tool, *ModelOf(no_config), path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, "[ERROR] Runtime-required field 'config' is null in output model\n"
                     "[ERROR] Verify failed.\n[ERROR] Verification failed for: " + path + "\n");
    EXPECT_EQ(std::filesystem::file_size(path), tool.builder().GetSize());
    EXPECT_FALSE(std::filesystem::exists(dir.File("model_verify_failed.bin")));
  }
  {
    SCOPED_TRACE("the written file reads back as something else");
    WeightToolBase tool;
    const Rebuild r = RunBuildWriteVerify(tool, source, "/dev/null");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, "[ERROR] Model FlatBuffer verification failed!\nModel check failed!\n"
                     "[ERROR] Verification failed for: /dev/null\n");
  }
}

TEST(WrittenFileCheckTest, ContainerChecks) {
  ScratchDir dir;
  vt::ContainerSpec spec;
  vt::SubModelSpec sub;
  sub.bytes = vt::BuildModel(FullModel());
  spec.models.push_back(sub);
  const vt::Bytes container = vt::BuildContainer(spec);
  const std::string path = dir.File("c.qdms");
  vt::WriteFile(path, container);

  auto check = [](const vt::Bytes &bytes, const std::string &file) {
    CapturedStreams streams;
    const int status = WeightToolBase::VerifyQdmsModel(bytes.data(), bytes.size(), file);
    streams.Take();
    return WriteResult{status, streams.out(), streams.err()};
  };
  const WriteResult ok = check(container, path);
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "[INFO] Verify Models buffer...\n[DONE] Models written: " + path + " (size=" +
                        std::to_string(container.size()) + " bytes)\n");
  EXPECT_EQ(ok.err, "");

  const WriteResult in_memory = check(sub.bytes, path);
  EXPECT_EQ(in_memory.status, 1);
  EXPECT_EQ(in_memory.err, "[ERROR] VerifyModelsBuffer failed (in-memory).\n");

  const std::string missing = dir.File("missing.qdms");
  EXPECT_EQ(check(container, missing).err, "Failed to open output models for check: " + missing + "\n");

  const std::string damaged = dir.File("damaged.qdms");
  vt::WriteFile(damaged, vt::Bytes(container.begin(), container.begin() + 8));
  const WriteResult bad_file = check(container, damaged);
  EXPECT_EQ(bad_file.status, 1);
  EXPECT_EQ(bad_file.err, "Models check failed!\n");
}

}  // namespace
}  // namespace vadu::qdmstrip
