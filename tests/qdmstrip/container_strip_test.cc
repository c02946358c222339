// The container strip: its lines in order, which keys count as shared, the
// rebuilt sub-models and container, and its failures, including sub-models
// whose header range lies outside model_data.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "container_runs.h"
#include "stripped_weight_marker.h"
#include "test_support.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::CompleteBar;
using testing::ModelOf;
using testing::ModelsOf;
using testing::ScratchDir;
using testing::SubModelAt;

constexpr int32_t kEmbedded = 0;

const vt::ItemSpec kW1 = vt::Weight("w1", 11, 8, 1);
const vt::ItemSpec kW2 = vt::Weight("w2", 22, 16, 2);
const vt::ItemSpec kW3 = vt::Weight("w3", 33, 40, 3, 16);
const vt::ItemSpec kW4 = vt::Weight("w4", 44, 4, 4);

vt::SubModelSpec Sub(const vt::ModelSpec &model, uint32_t align = 0, const std::string &name = "") {
  vt::SubModelSpec sub;
  sub.bytes = vt::BuildModel(model);
  sub.align = align;
  sub.name = name;
  return sub;
}

vt::SubModelSpec RawSub(const std::vector<vt::ItemSpec> &weights) { return Sub(vt::SimpleModel("m", weights)); }

vt::ContainerSpec Container(std::vector<vt::SubModelSpec> subs) {
  vt::ContainerSpec spec;
  spec.models = std::move(subs);
  return spec;
}

std::string Bar(const std::string &label, uint64_t current, uint64_t total) {
  const auto filled = static_cast<size_t>(50 * (static_cast<float>(current) / static_cast<float>(total)));
  std::string cells = std::string(filled, '=') + (filled < 50 ? ">" + std::string(49 - filled, ' ') : "");
  return "\r[" + label + "] Progress: [" + cells + "] " +
         std::to_string(static_cast<int>(static_cast<float>(current) / static_cast<float>(total) * 100)) + "% (" +
         std::to_string(current) + "/" + std::to_string(total) + ")";
}

// Writes the containers (the last one last), strips, and keeps what the run printed.
struct StripCase {
  ScratchDir dir;
  std::vector<std::string> inputs;
  testing::RunResult run;

  explicit StripCase(const std::vector<vt::ContainerSpec> &containers) {
    std::vector<vt::Bytes> files;
    for (const vt::ContainerSpec &spec : containers) files.push_back(vt::BuildContainer(spec));
    Run(files);
  }
  explicit StripCase(const std::vector<vt::Bytes> &files) { Run(files); }

  void Run(const std::vector<vt::Bytes> &files) {
    for (size_t i = 0; i < files.size(); ++i) {
      inputs.push_back(dir.File("c" + std::to_string(i) + ".qdms"));
      vt::WriteFile(inputs.back(), files[i]);
    }
    run = testing::RunContainerStrip(inputs, Output());
  }
  std::string Output() const { return dir.File("out.qdms"); }
  vt::Bytes Written() const { return vt::ReadFile(Output()); }
};

TEST(ContainerStripTest, TwoInputsPrintEveryStepInOrder) {
  StripCase c({Container({RawSub({kW1, kW2})}), Container({RawSub({kW1, kW4})})});
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const vt::Bytes out = c.Written();
  const std::string size = std::to_string(out.size());
  EXPECT_EQ(c.run.out, "[INFO] Init shared weights = 2\n" + CompleteBar("Init Qdms", 1) +
                           "[INFO] Shared keys after intersection: 2\n" + CompleteBar("Sub RAW Scan", 1) +
                           CompleteBar("Rebuild qdms", 1) + "[INFO] Buffer Write...\n" +
                           CompleteBar("Buffer Write", out.size()) + "[INFO] Saving...\n" +
                           "[INFO] Verify Models buffer...\n" + "[DONE] Models written: " + c.Output() +
                           " (size=" + size + " bytes)\n");
  EXPECT_EQ(c.run.err, "[INFO] Gathered 2 total headers, 1 non-shared headers, 1 shared headers.\n");
}

TEST(ContainerStripTest, AKeyIsSharedWhenSomeSubModelOfEachEarlierContainerHoldsIt) {
  // w1 and w2 sit in different sub-models of each earlier container; w3 is in the first one only.
  StripCase c({Container({RawSub({kW1}), RawSub({kW2, kW3})}), Container({RawSub({kW2}), RawSub({kW4, kW1})}),
               Container({RawSub({kW2, kW3}), RawSub({kW1})})});
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_EQ(c.run.out.find("[INFO] Init shared weights = 3\n" + Bar("Init Qdms", 1, 2) + Bar("Intersect Qdms", 1, 2) +
                           "[INFO] Shared keys after intersection: 2\n"),
            0u);
  const vt::Bytes written = c.Written();
  const vb::Models &out = *ModelsOf(written);
  const vt::Bytes first = SubModelAt(out, 0);
  const vt::Bytes second = SubModelAt(out, 1);
  const auto &first_headers = *ModelOf(first)->weights()->Get(0)->headers();
  EXPECT_EQ(first_headers.Get(0)->offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(first_headers.Get(1)->offset(), 0u);
  EXPECT_EQ(ModelOf(first)->raw_data()->size(), kW3.bytes.size());
  EXPECT_EQ(ModelOf(second)->weights()->Get(0)->headers()->Get(0)->offset(), STRIPPED_WEIGHT_OFFSET_MARKER);

  // Each further earlier container narrows the set: the second drops w3, the third w2.
  StripCase narrowed({Container({RawSub({kW1}), RawSub({kW2, kW3})}), Container({RawSub({kW2}), RawSub({kW4, kW1})}),
                      Container({RawSub({kW3, kW1})}), Container({RawSub({kW2, kW3}), RawSub({kW1})})});
  ASSERT_EQ(narrowed.run.status, 0) << narrowed.run.err;
  EXPECT_EQ(narrowed.run.out.find("[INFO] Init shared weights = 3\n" + Bar("Init Qdms", 1, 3) +
                                  Bar("Intersect Qdms", 1, 3) + Bar("Intersect Qdms", 2, 3) +
                                  "[INFO] Shared keys after intersection: 1\n"),
            0u);
  const vt::Bytes narrowed_out = narrowed.Written();
  const vt::Bytes kept = SubModelAt(*ModelsOf(narrowed_out), 0);
  const auto &kept_headers = *ModelOf(kept)->weights()->Get(0)->headers();
  EXPECT_EQ(kept_headers.Get(0)->offset(), 0u);
  EXPECT_EQ(kept_headers.Get(1)->offset(), kW2.bytes.size());
  const vt::Bytes shared_only = SubModelAt(*ModelsOf(narrowed_out), 1);
  EXPECT_EQ(ModelOf(shared_only)->weights()->Get(0)->headers()->Get(0)->offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
}

TEST(ContainerStripTest, AllSharedSubModelKeepsEveryHeaderAndAnEmptyRawData) {
  vt::ItemSpec empty = vt::Weight("empty", 5, 0, 0);
  vt::ItemSpec unnamed = kW2;
  unnamed.name.clear();
  StripCase c({Container({RawSub({kW1, kW2})}), Container({RawSub({kW1, empty, unnamed})})});
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const vt::Bytes sub = SubModelAt(*ModelsOf(c.Written()), 0);
  const vb::Model &model = *ModelOf(sub);
  ASSERT_NE(model.raw_data(), nullptr);
  EXPECT_EQ(model.raw_data()->size(), 0u);
  const auto &headers = *model.weights()->Get(0)->headers();
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers.Get(0)->offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(headers.Get(1)->offset(), 0u);
  EXPECT_EQ(headers.Get(1)->hash(), 5u);
  EXPECT_EQ(headers.Get(2)->offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(headers.Get(2)->name(), nullptr);
  // The runtime needs these vectors even when they are empty.
  EXPECT_NE(model.attrs(), nullptr);
  EXPECT_NE(model.kernels(), nullptr);
  EXPECT_NE(model.workspace(), nullptr);
}

TEST(ContainerStripTest, EmptyHeaderListGivesAnEmptyModelData) {
  vt::ContainerSpec last;
  vt::AttrSpec note;
  note.name = "note";
  note.text = "kept";
  last.attrs.push_back(note);
  StripCase c({Container({RawSub({kW1})}), last});
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const vt::Bytes bytes = c.Written();
  const vb::Models &out = *ModelsOf(bytes);
  ASSERT_NE(out.model_data(), nullptr);
  EXPECT_EQ(out.model_data()->size(), 0u);
  EXPECT_EQ(out.model_headers(), nullptr);
  EXPECT_EQ(out.inputs(), nullptr);
  EXPECT_EQ(out.devices(), nullptr);
  ASSERT_NE(out.attrs(), nullptr);
  EXPECT_EQ(out.attrs()->Get(0)->name()->str(), "note");
}

struct FailureCase {
  std::string what;
  std::vector<vt::Bytes> files;
  std::string err;                 // "@N" stands for the path of input N
  std::optional<std::string> out = std::nullopt;  // when given, all of standard output
};

std::string WithPaths(std::string text, const std::vector<std::string> &inputs) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string mark = "@" + std::to_string(i);
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark)) text.replace(at, 2, inputs[i]);
  }
  return text;
}

TEST(ContainerStripTest, FailuresSayWhatWentWrongAndWriteNothing) {
  const vt::Bytes good = vt::BuildContainer(Container({RawSub({kW1})}));
  const std::string gathered = "[INFO] Gathered 1 total headers, 0 non-shared headers, 1 shared headers.\n";
  auto with_bad_range = [&](uint64_t offset, uint64_t size) {
    vt::SubModelSpec bad = RawSub({kW1});
    bad.offset = offset;
    bad.size = size;
    return vt::BuildContainer(Container({RawSub({kW1}), bad}));
  };
  vt::SubModelSpec garbage;
  garbage.bytes = vt::Bytes(64, 0x5A);
  vt::ModelSpec no_config = vt::SimpleModel("m", {kW1, kW2});
  no_config.config.reset();
  vt::ModelSpec no_weights = vt::SimpleModel("m", {});
  no_weights.weights.clear();
  vt::ModelSpec embedded_only = vt::SimpleModel("m", {});
  embedded_only.weights[0].type = kEmbedded;
  embedded_only.weights[0].items = {kW2};
  vt::ModelSpec embedded_outside = embedded_only;
  embedded_outside.weights[0].items[0].offset = 32;  // 16 bytes from 32 in 40 bytes of data
  embedded_outside.weights[0].items.push_back(kW3);
  embedded_outside.force_raw_data = true;
  vt::ItemSpec marker = kW4;  // a weight stripped before whose key is not shared now
  marker.offset = STRIPPED_WEIGHT_OFFSET_MARKER;
  const vt::Bytes not_a_container = vt::BuildModel(no_config);
  auto holding = [](const vt::SubModelSpec &sub) { return vt::BuildContainer(Container({sub})); };
  auto lacking = [](bool model_data, bool model_headers) {
    vt::ContainerSpec spec = Container({RawSub({kW1})});
    spec.has_model_data = model_data;
    spec.has_model_headers = model_headers;
    return vt::BuildContainer(spec);
  };
  const vt::Bytes no_model_data = lacking(false, true);
  const vt::Bytes no_model_headers = lacking(true, false);
  const std::string keys_of_good = "[INFO] Init shared weights = 1\n" + CompleteBar("Init Qdms", 1) +
                                   "[INFO] Shared keys after intersection: 1\n";
  const std::vector<FailureCase> cases = {
      {"range beyond model_data", {good, with_bad_range(1u << 20, 100)},
       gathered + "[ERROR] Original sub-model verify failed for index 1\n"},
      {"range that wraps around", {good, with_bad_range(~uint64_t{0} - 15, 32)},
       gathered + "[ERROR] Original sub-model verify failed for index 1\n"},
      {"bytes that are no model", {good, holding(garbage)}, "[ERROR] Original sub-model verify failed for index 0\n"},
      {"first earlier container", {with_bad_range(1u << 20, 100), good},
       "[ERROR] Invalid sub-model 1 in models container: @0\n"},
      {"further earlier container", {good, with_bad_range(~uint64_t{0} - 15, 64), good},
       "[ERROR] Invalid sub-model 1 in models container: @1\n"},
      {"further earlier container that is not one", {good, not_a_container, good},
       "[ERROR] VerifyModelsBuffer failed: @1\n"},
      {"sub-model without weights", {good, holding(Sub(no_weights))},
       "[ERROR] Failed to gather weight metadata for sub-model\n"},
      {"sub-model without raw_data", {good, holding(Sub(embedded_only))},
       "[INFO] Gathered 1 total headers, 1 non-shared headers, 0 shared headers.\n"
       "[ERROR] sub-model has no raw_data\n"},
      {"kept embedded weight outside its data", {good, holding(Sub(embedded_outside))},
       "[INFO] Gathered 2 total headers, 2 non-shared headers, 0 shared headers.\n"
       "[ERROR] Non-RAW header out of data\n"},
      {"kept weight that carries the marker", {good, holding(RawSub({kW1, marker}))},
       "[INFO] Gathered 2 total headers, 1 non-shared headers, 1 shared headers.\n"
       "[ERROR] RAW header out of raw_data\n"},
      // A container without model_headers or model_data ends the run without a word.
      {"last container without model_headers", {good, no_model_headers}, "", keys_of_good},
      {"last container without model_data", {good, no_model_data}, "", keys_of_good},
      {"first earlier container without model_headers", {no_model_headers, good}, "", ""},
      {"first earlier container without model_data", {no_model_data, good}, "", ""},
      {"further earlier container without model_headers", {good, no_model_headers, good}, "",
       "[INFO] Init shared weights = 1\n" + Bar("Init Qdms", 1, 2)},
      {"further earlier container without model_data", {good, no_model_data, good}, "",
       "[INFO] Init shared weights = 1\n" + Bar("Init Qdms", 1, 2)},
      {"rebuilt sub-model without config", {good, holding(Sub(no_config))},
       "[INFO] Gathered 2 total headers, 1 non-shared headers, 1 shared headers.\n"
       "[ERROR] Runtime-required field 'config' is null in output model\n"
       "[ERROR] Sub-model verification failed (with strict check)\n"},
  };
  for (const FailureCase &f : cases) {
    SCOPED_TRACE(f.what);
    ScratchDir work;
    testing::WorkingDirectory in(work.path());
    StripCase c(f.files);
    EXPECT_EQ(c.run.status, 1);
    EXPECT_EQ(c.run.err, WithPaths(f.err, c.inputs));
    if (f.out) {
      EXPECT_EQ(c.run.out, *f.out);
    }
    EXPECT_FALSE(std::filesystem::exists(c.Output()));
    // A strict-check failure is no schema failure: nothing is dumped.
    EXPECT_FALSE(std::filesystem::exists(work.path() / "model_verify_failed.bin"));
  }
}

TEST(ContainerStripTest, WriteErrorsAreFailures) {
  StripCase c({Container({RawSub({kW1})}), Container({RawSub({kW1, kW2})})});
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const testing::RunResult full = testing::RunContainerStrip(c.inputs, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("[ERROR] Failed to write output: /dev/full\n[ERROR] Failed to write models container\n"),
            std::string::npos);
  EXPECT_EQ(full.out.find("[DONE]"), std::string::npos);

  // The program refuses an output that is one of its inputs before it opens anything.
  const vt::Bytes last = vt::ReadFile(c.inputs[1]);
  const testing::CliResult same = testing::RunQdmstrip({"-s", "-o", c.inputs[1], "-i", c.inputs[0], c.inputs[1]});
  EXPECT_EQ(same.exit_code, 1);
  EXPECT_EQ(same.err, "[ERROR] Output must not overwrite an input: " + c.inputs[1] + "\n");
  EXPECT_EQ(vt::ReadFile(c.inputs[1]), last);
}

}  // namespace
}  // namespace vadu::qdmstrip
