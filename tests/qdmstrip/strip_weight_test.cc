// The single-model strip: its lines in order, the repacking by the alignment
// rule, which headers are stripped, and its failures.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "strip_restore_runs.h"
#include "strip_weight.h"
#include "stripped_weight_marker.h"
#include "test_support.h"
#include "weight_key.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::CapturedStreams;
using testing::CompleteBar;
using testing::HeaderBytes;
using testing::ModelOf;
using testing::RunStrip;
using testing::ScratchDir;

constexpr int32_t kRaw = 3;
constexpr int32_t kEmbedded = 0;

std::string HalfBar(const std::string &label, uint64_t total) {
  return "\r[" + label + "] Progress: [" + std::string(25, '=') + ">" + std::string(24, ' ') + "] 50% (" +
         std::to_string(total / 2) + "/" + std::to_string(total) + ")";
}

vt::BinarySpec Blob(const std::string &name, int32_t type, std::vector<vt::ItemSpec> items) {
  vt::BinarySpec blob;
  blob.name = name;
  blob.type = type;
  blob.items = std::move(items);
  return blob;
}

vt::ModelSpec Model(std::vector<vt::BinarySpec> blobs) {
  vt::ModelSpec spec;
  spec.weights = std::move(blobs);
  spec.force_raw_data = true;
  return spec;
}

vt::ItemSpec NoHash(const std::string &name, size_t size, uint8_t fill) {
  vt::ItemSpec item = vt::Weight(name, 0, size, fill);
  item.has_hash = false;
  return item;
}

const vb::BinaryHeader &Header(const vt::Bytes &model, size_t blob, size_t header) {
  return *ModelOf(model)->weights()->Get(blob)->headers()->Get(header);
}

std::vector<uint8_t> RawData(const vt::Bytes &model) {
  const auto *raw = ModelOf(model)->raw_data();
  return {raw->begin(), raw->end()};
}

// Writes `earlier` and `last`, strips, and keeps what the run printed.
struct StripCase {
  ScratchDir dir;
  std::vector<std::string> inputs;
  testing::RunResult run;
  vt::Bytes last;

  StripCase(const std::vector<vt::ModelSpec> &earlier, const vt::ModelSpec &last_spec) {
    for (size_t i = 0; i < earlier.size(); ++i) {
      inputs.push_back(dir.File("e" + std::to_string(i) + ".qdm"));
      vt::WriteFile(inputs.back(), vt::BuildModel(earlier[i]));
    }
    last = vt::BuildModel(last_spec);
    inputs.push_back(dir.File("last.qdm"));
    vt::WriteFile(inputs.back(), last);
    run = RunStrip(inputs, Output());
  }
  std::string Output() const { return dir.File("out.qdm"); }
  vt::Bytes Stripped() const { return vt::ReadFile(Output()); }
};

TEST(WeightKeyTest, HashIsTheMixingFormula) {
  EXPECT_EQ(WeightKeyHash{}({0, 1}), 0x9e3779b97f4a7c16u);
  EXPECT_EQ(WeightKeyHash{}({0xFFFFFFFFFFFFFFFFu, 16}), 0x21c8864680b5841bu);
  EXPECT_EQ(WeightKeyHash{}({0x0123456789abcdefu, 4096}), 0xe672e192450336bfu);
  const WeightKeySet keys = {{1, 2}, {2, 1}, {1, 2}};
  EXPECT_EQ(keys.size(), 2u);
}

TEST(StripTest, PrintsEveryStepInOrderAndStripsWhatAllEarlierModelsHold) {
  const vt::ItemSpec k1 = vt::Weight("k1", 11, 8, 1);
  const vt::ItemSpec k2 = vt::Weight("k2", 22, 16, 2);
  const vt::ItemSpec k3 = vt::Weight("k3", 33, 4, 3);
  const vt::ItemSpec k4 = vt::Weight("k4", 44, 100, 4);
  const vt::ItemSpec k5 = vt::Weight("k5", 55, 10, 5, 16);
  const vt::ItemSpec k9 = vt::Weight("k9", 99, 4, 9);
  StripCase c({Model({Blob("w", kRaw, {k1, k2, k3})}), Model({Blob("w", kRaw, {k1, k3, k9})})},
              Model({Blob("weights", kRaw, {k1, k4, k3}), Blob("emb", kEmbedded, {k5})}));
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const vt::Bytes out = c.Stripped();

  EXPECT_EQ(c.run.err,
            "[INFO] Total shared weights to strip: 2\n"
            "[INFO] Gathered 4 total headers, 2 non-shared headers, 2 shared headers.\n");
  EXPECT_EQ(c.run.out, HalfBar("Init Models", 2) + "[INFO] Initial shared weights count: 3\n" +
                           "[INFO] Model[1] weights size: 3\n" + HalfBar("Record share", 2) +
                           "[INFO] Rebuilding model & shrinking data...\n" +
                           HalfBar("Non-Shared Weight Raw Scan", 2) + CompleteBar("Non-Shared Weight Raw Scan", 2) +
                           "[INFO] Creating Model...\n" + "Shared Headers: 2/4 (50.00% )\n" +
                           "Original raw_data bytes: 196 -> New raw_data bytes: 100 (Saved 96 bytes)\n" +
                           "[INFO] Creating Model...\n" + "[INFO] Model Write...\n" +
                           CompleteBar("Model Write", out.size()) + "[INFO] Saving...\n" + "[INFO] Verify...\n" +
                           "[DONE] Model written: " + c.Output() + " (size=" + std::to_string(out.size()) +
                           " bytes)\n");

  EXPECT_EQ(Header(out, 0, 0).offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(Header(out, 0, 1).offset(), 0u);
  EXPECT_EQ(Header(out, 0, 2).offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(Header(out, 0, 2).name()->str(), "k3");
  EXPECT_EQ(RawData(out), k4.bytes);
  EXPECT_EQ(Header(out, 1, 0).offset(), 0u);
  EXPECT_EQ(Header(out, 1, 0).align(), 16u);
  const auto *emb = ModelOf(out)->weights()->Get(1)->data();
  EXPECT_EQ(std::vector<uint8_t>(emb->begin(), emb->end()), k5.bytes);
}

TEST(StripTest, RepacksKeptWeightsByTheAlignmentRule) {
  vt::ItemSpec empty = vt::Weight("empty", 7, 0, 0);
  vt::ItemSpec late = vt::Weight("late", 8, 5, 8, 48);
  vt::Bytes tail(20, 0xEE);  // bytes no header covers are dropped
  vt::ModelSpec last = Model({Blob("a", kRaw, {vt::Weight("w100", 1, 100, 1), vt::Weight("w10", 2, 10, 2, 32), empty}),
                              Blob("e", kEmbedded, {vt::Weight("x", 3, 4, 3, 3), vt::Weight("y", 4, 2, 4, 3)}),
                              Blob("b", kRaw, {late})});
  last.extra_raw_tail = tail;
  StripCase c({Model({Blob("other", kRaw, {vt::Weight("z", 99, 0, 9)})})}, last);  // no key at all
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  EXPECT_NE(c.run.out.find("[INFO] No shared weights found, just copy last model.\n"), std::string::npos);
  EXPECT_EQ(c.run.out.find("[INFO] Model["), std::string::npos);  // two inputs: nothing to intersect

  const vt::Bytes out = c.Stripped();
  EXPECT_EQ(Header(out, 0, 0).offset(), 0u);
  EXPECT_EQ(Header(out, 0, 1).offset(), 128u);
  EXPECT_EQ(Header(out, 0, 2).offset(), 0u);  // size 0: offset 0 whatever it was
  EXPECT_EQ(Header(out, 2, 0).offset(), 144u);  // the next RAW_OFFSET Binary continues the same raw data
  const std::vector<uint8_t> raw = RawData(out);
  ASSERT_EQ(raw.size(), 149u);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 100, raw.begin() + 128), std::vector<uint8_t>(28, 0));
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 144, raw.end()), late.bytes);

  // Embedded data start again at 0: 4 bytes at 0, the next at 6 (a multiple of 3).
  EXPECT_EQ(Header(out, 1, 0).offset(), 0u);
  EXPECT_EQ(Header(out, 1, 1).offset(), 6u);
  EXPECT_EQ(ModelOf(out)->weights()->Get(1)->data()->size(), 8u);
}

TEST(StripTest, DuplicatesAbsentHashesAndEmptyHeaders) {
  const vt::ItemSpec kept = vt::Weight("dup", 5, 6, 5);
  vt::ItemSpec kept_48 = kept;
  kept_48.align = 48;
  const vt::ItemSpec shared = vt::Weight("s", 6, 8, 6, 16);
  vt::ItemSpec shared_3 = shared;
  shared_3.align = 3;
  vt::ItemSpec zero_in_earlier = vt::Weight("zero", 7, 0, 0);
  StripCase c({Model({Blob("e", kRaw, {shared, NoHash("anon", 12, 1), zero_in_earlier})})},
              Model({Blob("a", kRaw, {kept, kept, shared, kept_48, NoHash("other", 12, 2), zero_in_earlier}),
                     Blob("b", kRaw, {shared_3})}));
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const vt::Bytes out = c.Stripped();

  // Equal hash, size, name and alignment: both point at the first copy, yet both copies are kept.
  EXPECT_EQ(Header(out, 0, 0).offset(), 0u);
  EXPECT_EQ(Header(out, 0, 1).offset(), 0u);
  // The same weight with another alignment keeps its own alignment and a place that suits it.
  EXPECT_EQ(Header(out, 0, 3).align(), 48u);
  EXPECT_EQ(Header(out, 0, 3).offset(), 96u);
  EXPECT_EQ(RawData(out).size(), 102u);
  // Every shared header carries the marker and keeps its own alignment.
  EXPECT_EQ(Header(out, 0, 2).offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(Header(out, 0, 2).align(), 16u);
  EXPECT_EQ(Header(out, 1, 0).offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  EXPECT_EQ(Header(out, 1, 0).align(), 3u);
  // No hash and the same size: the same weight, whatever the bytes.
  EXPECT_EQ(Header(out, 0, 4).offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
  // Size 0 never forms a key.
  EXPECT_EQ(Header(out, 0, 5).offset(), 0u);
  EXPECT_EQ(Header(out, 0, 5).size(), 0u);
  EXPECT_NE(c.run.out.find("Shared Headers: 3/7 (42.86% )\n"), std::string::npos);
}

TEST(StripTest, BinaryShapesAreKept) {
  vt::BinarySpec no_headers = Blob("", kRaw, {});  // empty headers vector, empty name
  vt::BinarySpec zero_only = Blob("zeros", kEmbedded, {vt::Weight("z", 1, 0, 0)});
  StripCase c({Model({Blob("e", kRaw, {vt::Weight("x", 2, 4, 2)})})}, Model({no_headers, zero_only}));
  ASSERT_EQ(c.run.status, 0) << c.run.err;
  const vt::Bytes stripped = c.Stripped();  // the model points into these bytes
  const vb::Model &out = *ModelOf(stripped);
  const vb::Binary &first = *out.weights()->Get(0);
  EXPECT_EQ(first.name(), nullptr);
  ASSERT_NE(first.headers(), nullptr);  // the strict check needs the vector, empty or not
  EXPECT_EQ(first.headers()->size(), 0u);
  EXPECT_EQ(out.weights()->Get(1)->data(), nullptr);
  EXPECT_EQ(out.raw_data()->size(), 0u);
  EXPECT_NE(c.run.out.find("Shared Headers: 0/1 (0.00% )\n"), std::string::npos);
}

TEST(StripTest, AModelStrippedBeforeStripsAgainOnlyWhereTheKeyIsShared) {
  const vt::ItemSpec w = vt::Weight("w", 1, 32, 1);
  const vt::ItemSpec v = vt::Weight("v", 2, 16, 2);
  StripCase first({Model({Blob("e", kRaw, {w})})}, Model({Blob("a", kRaw, {w, v})}));
  ASSERT_EQ(first.run.status, 0) << first.run.err;

  ScratchDir dir;
  vt::WriteFile(dir.File("stripped.qdm"), first.Stripped());
  vt::WriteFile(dir.File("holder.qdm"), vt::BuildModel(Model({Blob("e", kRaw, {w})})));
  vt::WriteFile(dir.File("stranger.qdm"), vt::BuildModel(Model({Blob("e", kRaw, {v})})));

  const testing::RunResult again = RunStrip({dir.File("holder.qdm"), dir.File("stripped.qdm")}, dir.File("again.qdm"));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Header(vt::ReadFile(dir.File("again.qdm")), 0, 0).offset(), STRIPPED_WEIGHT_OFFSET_MARKER);

  // Kept, the marker header points outside every vector.
  const testing::RunResult kept = RunStrip({dir.File("stranger.qdm"), dir.File("stripped.qdm")}, dir.File("bad.qdm"));
  EXPECT_EQ(kept.status, 1);
  EXPECT_TRUE(kept.err.ends_with("[ERROR] Header range out of raw_data bounds\n")) << kept.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("bad.qdm")));

  // The embedded variant.
  vt::ItemSpec marked = vt::Weight("m", 3, 8, 3);
  marked.offset = STRIPPED_WEIGHT_OFFSET_MARKER;
  vt::WriteFile(dir.File("marked.qdm"), vt::BuildModel(Model({Blob("emb", kEmbedded, {marked})})));
  const testing::RunResult embedded = RunStrip({dir.File("stranger.qdm"), dir.File("marked.qdm")}, dir.File("bad2.qdm"));
  EXPECT_EQ(embedded.status, 1);
  EXPECT_TRUE(embedded.err.ends_with("[ERROR] Header range out of data bounds\n")) << embedded.err;
}

TEST(StripTest, AnOutOfRangeHeaderFailsAfterTheBarsBeforeIt) {
  vt::ItemSpec huge = vt::Weight("huge", 2, 8, 2);
  huge.size = uint64_t{1} << 62;  // a corrupt size must not size an allocation
  StripCase c({Model({Blob("e", kRaw, {vt::Weight("z", 9, 0, 9)})})},
              Model({Blob("a", kRaw, {vt::Weight("ok", 1, 8, 1), huge})}));
  EXPECT_EQ(c.run.status, 1);
  EXPECT_TRUE(c.run.out.ends_with("[INFO] Rebuilding model & shrinking data...\n" +
                                  HalfBar("Non-Shared Weight Raw Scan", 2)))
      << c.run.out;
  EXPECT_TRUE(c.run.err.ends_with("[ERROR] Header range out of raw_data bounds\n")) << c.run.err;
  EXPECT_FALSE(std::filesystem::exists(c.Output()));
}

TEST(StripTest, FailuresSayWhatWentWrong) {
  ScratchDir dir;
  const vt::ModelSpec good = Model({Blob("w", kRaw, {vt::Weight("w", 1, 8, 1)})});
  vt::WriteFile(dir.File("good.qdm"), vt::BuildModel(good));
  vt::ModelSpec no_weights = good;
  no_weights.weights.clear();
  vt::WriteFile(dir.File("no_weights.qdm"), vt::BuildModel(no_weights));
  vt::ModelSpec no_raw = Model({Blob("emb", kEmbedded, {vt::Weight("w", 1, 8, 1)})});
  no_raw.force_raw_data = false;
  vt::WriteFile(dir.File("no_raw.qdm"), vt::BuildModel(no_raw));
  vt::ModelSpec no_config = good;
  no_config.config.reset();
  vt::WriteFile(dir.File("no_config.qdm"), vt::BuildModel(no_config));
  vt::WriteFile(dir.File("garbage.qdm"), vt::Bytes(64, 0x5A));
  const std::string good_path = dir.File("good.qdm");
  const std::string out = dir.File("out.qdm");

  struct Case {
    std::vector<std::string> inputs;
    std::string err_ending;
  };
  const std::vector<Case> cases = {
      {{good_path}, "[ERROR] Need at least 2 input models (one or more previous models and the last model).\n"},
      {{dir.File("missing.qdm"), good_path},
       "[ERROR] Loading model failed: " + dir.File("missing.qdm") + "\n[ERROR] Invalid model: " +
           dir.File("missing.qdm") + "\n"},
      {{dir.File("no_weights.qdm"), good_path}, "[ERROR] Invalid model: " + dir.File("no_weights.qdm") + "\n"},
      {{good_path, dir.File("garbage.qdm"), good_path},
       "[ERROR] Model FlatBuffer verification failed!\n[ERROR] Invalid model: " + dir.File("garbage.qdm") + "\n"},
      {{good_path, dir.File("garbage.qdm")}, "[ERROR] Model FlatBuffer verification failed!\n"},
      {{good_path, dir.File("no_weights.qdm")}, "[ERROR] Failed to collect weight headers from source model\n"},
      {{good_path, dir.File("no_raw.qdm")}, "[ERROR] Last model has no raw_data, cannot strip by rebuilding.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.inputs.back() + " after " + c.inputs.front());
    const testing::RunResult r = RunStrip(c.inputs, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with(c.err_ending)) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  // A rebuilt model the strict check refuses is left on disk, and the run fails.
  const testing::RunResult r = RunStrip({good_path, dir.File("no_config.qdm")}, out);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.ends_with("[ERROR] Runtime-required field 'config' is null in output model\n"
                              "[ERROR] Verify failed.\n[ERROR] Verification failed for: " + out +
                              "\n[ERROR] Failed to build/write/verify model to: " + out + "\n"))
      << r.err;
  EXPECT_TRUE(std::filesystem::exists(out));
}

TEST(StripTest, StatisticsLine) {
  const vt::Bytes without_raw = vt::BuildModel(vt::ModelSpec{});
  std::vector<RepackHeader> three(3);
  CapturedStreams streams;
  StripWeightTool::PrintStats(*ModelOf(without_raw), 0, 8, three);
  StripWeightTool::PrintStats(*ModelOf(without_raw), 0, 0, {});
  streams.Take();
  EXPECT_EQ(streams.out(), "Shared Headers: 3/8 (37.50% )\nShared Headers: 0/0 (0.00% )\n");
}

}  // namespace
}  // namespace vadu::qdmstrip
