// The single-model restore: its lines in order, where each key's bytes come
// from, how raw data is placed, and its failures.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "restore_weight.h"
#include "strip_restore_runs.h"
#include "stripped_weight_marker.h"
#include "test_support.h"
#include "vadu_mmap.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::CapturedStreams;
using testing::CompleteBar;
using testing::HeaderBytes;
using testing::ModelOf;
using testing::RunRestore;
using testing::ScratchDir;

constexpr int32_t kRaw = 3;
constexpr int32_t kEmbedded = 0;

std::string Bar(const std::string &label, uint64_t current, uint64_t total) {
  if (current == total) return CompleteBar(label, total);
  const uint64_t filled = current * 50 / total;
  return "\r[" + label + "] Progress: [" + std::string(filled, '=') + ">" + std::string(49 - filled, ' ') + "] " +
         std::to_string(current * 100 / total) + "% (" + std::to_string(current) + "/" + std::to_string(total) + ")";
}

std::string Bars(const std::string &label, uint64_t last, uint64_t total) {
  std::string bars;
  for (uint64_t i = 1; i <= last; ++i) bars += Bar(label, i, total);
  return bars;
}

vt::ItemSpec Stripped(vt::ItemSpec item) {
  item.offset = STRIPPED_WEIGHT_OFFSET_MARKER;
  return item;
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

const vb::BinaryHeader &Header(const vt::Bytes &model, size_t blob, size_t header) {
  return *ModelOf(model)->weights()->Get(blob)->headers()->Get(header);
}

std::vector<uint8_t> BytesOf(const vt::Bytes &model, size_t blob, size_t header) {
  const vb::Model &m = *ModelOf(model);
  const auto bytes = HeaderBytes(m, *m.weights()->Get(blob), Header(model, blob, header));
  return {bytes.begin(), bytes.end()};
}

// Files written into one scratch directory by name.
struct Files {
  ScratchDir dir;
  std::string Put(const std::string &name, const vt::ModelSpec &spec) {
    vt::WriteFile(dir.File(name), vt::BuildModel(spec));
    return dir.File(name);
  }
  std::string Out() const { return dir.File("out.qdm"); }
};

const vt::ItemSpec kA = vt::Weight("a", 1, 8, 1);
const vt::ItemSpec kB = vt::Weight("b", 2, 16, 2);
const vt::ItemSpec kC = vt::Weight("c", 3, 4, 3);
const vt::ItemSpec kD = vt::Weight("d", 4, 10, 4);

TEST(RestoreTest, PrintsEveryStepInOrderAndPutsTheBytesBack) {
  Files f;
  const std::string source = f.Put("source.qdm", Model({Blob("w", kRaw, {kA, kB})}));
  const std::string stripped =
      f.Put("stripped.qdm", Model({Blob("w", kRaw, {Stripped(kA), kC}), Blob("e", kEmbedded, {kD})}));
  const testing::RunResult r = RunRestore({source, stripped}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  const vt::Bytes out = vt::ReadFile(f.Out());
  const std::string size = std::to_string(out.size());
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "[INFO] Source models: 1\n[INFO] Stripped model: " + stripped + "\n" +
                       "[INFO] Need to restore 1 unique stripped weights from source models\n" +
                       "[INFO] Loading source [1/1]: " + source + "\n" + Bars("Collect Source", 2, 2) +
                       "[INFO] Source [1]: scanned 2 headers, map size = 1\n" +
                       "[INFO] Collected 1 needed weights from source models\n" + "[INFO] Restoring weights...\n" +
                       Bars("Analyse alignments", 3, 3) + "[INFO] Building raw_data...\n" +
                       Bars("Build raw data", 2, 3) +
                       "[INFO] Rebuilt raw_data: 68 bytes, 2 unique RAW entries restored\n" +
                       "[INFO] Rebuilding binary headers...\n" + Bars("Rebuild headers", 3, 3) +
                       "[INFO] Restored 3/3 headers\n" + "[INFO] Creating Model...\n" + "[INFO] Model Write...\n" +
                       CompleteBar("Model Write", out.size()) + "[INFO] Saving...\n" + "[INFO] Verify...\n" +
                       "[DONE] Model written: " + f.Out() + " (size=" + size + " bytes)\n" +
                       "[DONE] Restored model written: " + f.Out() + " (size=" + size + " bytes)\n");
  EXPECT_EQ(Header(out, 0, 0).offset(), 0u);
  EXPECT_EQ(BytesOf(out, 0, 0), kA.bytes);
  EXPECT_EQ(Header(out, 0, 1).offset(), 64u);
  EXPECT_EQ(BytesOf(out, 0, 1), kC.bytes);
  EXPECT_EQ(BytesOf(out, 1, 0), kD.bytes);
}

TEST(RestoreTest, EqualRawKeysShareOnePlaceAtTheLargestAlignment) {
  Files f;
  vt::ItemSpec a16 = Stripped(kA);
  a16.align = 16;
  vt::ItemSpec a48 = kA;  // in an embedded Binary: counts for the alignment, keeps its own copy
  a48.align = 48;
  vt::ItemSpec zero = vt::Weight("zero", 5, 0, 0, 3);
  vt::ItemSpec x = vt::Weight("x", 9, 4, 9);
  const std::string source = f.Put("source.qdm", Model({Blob("w", kRaw, {kA})}));
  const std::string stripped = f.Put(
      "stripped.qdm", Model({Blob("r1", kRaw, {x, a16, zero}), Blob("r2", kRaw, {Stripped(kA), x}),
                             Blob("e", kEmbedded, {a48})}));
  const testing::RunResult r = RunRestore({source, stripped}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  const vt::Bytes out = vt::ReadFile(f.Out());
  EXPECT_EQ(ModelOf(out)->raw_data()->size(), 56u);  // x at 0, a once at 48
  EXPECT_EQ(Header(out, 0, 0).offset(), 0u);
  EXPECT_EQ(Header(out, 1, 1).offset(), 0u);
  EXPECT_EQ(Header(out, 0, 1).offset(), 48u);
  EXPECT_EQ(Header(out, 1, 0).offset(), 48u);
  EXPECT_EQ(Header(out, 0, 1).align(), 16u);
  EXPECT_EQ(Header(out, 1, 0).align(), 0u);
  EXPECT_EQ(Header(out, 0, 2).offset(), 0u);
  EXPECT_EQ(Header(out, 0, 2).align(), 3u);
  EXPECT_EQ(BytesOf(out, 1, 0), kA.bytes);
  EXPECT_EQ(BytesOf(out, 2, 0), kA.bytes);
  EXPECT_NE(r.out.find("[INFO] Rebuilt raw_data: 56 bytes, 2 unique RAW entries restored\n"), std::string::npos);
}

// One copy per key, at a multiple of the largest alignment any header of the
// key asks for, widened to a common multiple only where a RAW_OFFSET header's
// alignment does not divide it: embedded headers keep their own bytes, and a
// key placed first sits at 0 whatever its alignments. Only a copy that cannot
// be placed within 64 bits fails, and cleanly.
TEST(RestoreTest, EqualRawKeysWithAlignmentsThatDoNotDivide) {
  Files f;
  const std::string source = f.Put("source.qdm", Model({Blob("w", kRaw, {kA})}));
  const vt::ItemSpec x = vt::Weight("x", 9, 20, 9);
  struct Case {
    std::vector<uint32_t> raw;  // the aligns of a's stripped RAW_OFFSET headers
    uint32_t embedded;          // of an embedded a, when not 0
    bool first;                 // a placed before x
    uint64_t offset;
  };
  const std::vector<Case> cases = {
      {{3, 16}, 0, false, 48},
      {{48, 64}, 0, false, 192},
      {{16}, 3, false, 32},
      {{64}, 48, false, 64},
      {{7}, 5, false, 21},
      {{65536, 65537}, 0, true, 0},
      {{4294967291, 4294967279, 4294967231}, 0, true, 0},  // primes: a multiple beyond 64 bits
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.raw) + " embedded " + std::to_string(c.embedded));
    std::vector<vt::BinarySpec> blobs;
    for (uint32_t align : c.raw) {
      vt::ItemSpec a = Stripped(kA);
      a.align = align;
      blobs.push_back(Blob("r", kRaw, c.first ? std::vector{a, x} : std::vector{x, a}));
    }
    if (c.embedded != 0) {
      vt::ItemSpec a = kA;
      a.align = c.embedded;
      blobs.push_back(Blob("e", kEmbedded, {a}));
    }
    const std::string stripped = f.Put("stripped.qdm", Model(blobs));
    const testing::RunResult r = RunRestore({source, stripped}, f.Out());
    ASSERT_EQ(r.status, 0) << r.err;
    const vt::Bytes out = vt::ReadFile(f.Out());
    EXPECT_TRUE(testing::PassesStrictCheck(out));
    for (size_t blob = 0; blob < c.raw.size(); ++blob) EXPECT_EQ(Header(out, blob, c.first ? 0 : 1).offset(), c.offset);
    EXPECT_EQ(BytesOf(out, 0, c.first ? 0 : 1), kA.bytes);
    std::filesystem::remove(f.Out());
  }

  vt::ItemSpec late = Stripped(kA);
  std::vector<vt::BinarySpec> blobs = {Blob("x", kRaw, {x})};
  for (uint32_t align : {4294967291u, 4294967279u, 4294967231u}) {
    late.align = align;
    blobs.push_back(Blob("r", kRaw, {late}));
  }
  const testing::RunResult r = RunRestore({source, f.Put("stripped.qdm", Model(blobs))}, f.Out());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[ERROR] Out of memory: cannot allocate the model being built: its size does not fit in 64 bits\n");
  EXPECT_EQ(r.out.find("[DONE]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(f.Out()));
}

TEST(RestoreTest, RawDataOnlyWhenARawWeightHasBytes) {
  Files f;
  const std::string source = f.Put("source.qdm", Model({Blob("e", kEmbedded, {kD})}));
  const std::string stripped = f.Put(
      "stripped.qdm", Model({Blob("e", kEmbedded, {Stripped(kD), kC}), Blob("r", kRaw, {vt::Weight("z", 1, 0, 0)})}));
  const testing::RunResult r = RunRestore({source, stripped}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  const vt::Bytes out = vt::ReadFile(f.Out());
  EXPECT_EQ(ModelOf(out)->raw_data(), nullptr);
  EXPECT_EQ(BytesOf(out, 0, 0), kD.bytes);
  EXPECT_EQ(Header(out, 0, 1).offset(), 64u);
  EXPECT_EQ(BytesOf(out, 0, 1), kC.bytes);
}

TEST(RestoreTest, FirstSourceWinsAndEqualBytesAreNoCollision) {
  Files f;
  const std::vector<std::string> paths = {f.Put("one.qdm", Model({Blob("w", kRaw, {kB, kA})})),
                                          f.Put("two.qdm", Model({Blob("e", kEmbedded, {kA})}))};
  std::vector<ReadOnlyMMapFile> files(paths.size());
  WeightDataMap collected;
  CapturedStreams streams;
  RestoreWeightTool tool;
  const bool ok = tool.CollectSourceWeights(paths, files, {{1, 8}}, collected);
  streams.Take();
  ASSERT_TRUE(ok) << streams.err();
  EXPECT_EQ(streams.err(), "");
  ASSERT_EQ(collected.size(), 1u);
  const WeightDataInfo &entry = collected.at({1, 8});
  EXPECT_EQ(entry.source_path, paths[0]);
  EXPECT_TRUE(entry.is_raw);
  EXPECT_EQ(entry.offset, 64u);
  EXPECT_EQ(std::vector<uint8_t>(entry.Bytes().begin(), entry.Bytes().end()), kA.bytes);
  EXPECT_NE(streams.out().find("[INFO] Source [2]: scanned 1 headers, map size = 1\n"), std::string::npos);
}

TEST(RestoreTest, SourcesThatCannotProvideAKey) {
  Files f;
  const std::string stripped_a = f.Put("needs_a.qdm", Model({Blob("w", kRaw, {Stripped(kA)})}));
  vt::ItemSpec other_bytes = kA;
  other_bytes.bytes.assign(8, 0x77);
  struct Case {
    std::string name;
    std::vector<std::string> inputs;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"a source that was itself stripped",
       {f.Put("raw_stripped.qdm", Model({Blob("w", kRaw, {Stripped(kA)})})), stripped_a},
       "\n[ERROR] RAW_OFFSET weight out of range: a\n"},
      {"an embedded source that was itself stripped",
       {f.Put("emb_stripped.qdm", Model({Blob("e", kEmbedded, {Stripped(kA)})})), stripped_a},
       "\n[ERROR] Embedded weight out of range: a\n"},
      {"two sources with different bytes for one key",
       {f.Put("one.qdm", Model({Blob("w", kRaw, {kA})})), f.Put("two.qdm", Model({Blob("w", kRaw, {other_bytes})})),
        stripped_a},
       "\n[ERROR] Collision: same (hash,size) but different bytes. key(hash=1, size=8) prev_src=" + f.dir.File("one.qdm") +
           " cur_src=" + f.dir.File("two.qdm") + " name_prev=a name_cur=a\n"},
      {"no source holds the key",
       {f.Put("b_only.qdm", Model({Blob("w", kRaw, {kB})})), stripped_a},
       "\n[ERROR] Missing weight data for: a (hash=1, size=8)\n"},
      {"an embedded key in no source",
       {f.dir.File("one.qdm"), f.Put("needs_embedded_d.qdm", Model({Blob("e", kEmbedded, {Stripped(kD)})}))},
       "\n[ERROR] Missing embedded weight data for: d\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const testing::RunResult r = RunRestore(c.inputs, f.Out());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(f.Out()));
  }

  // A corrupt size no source holds fails without sizing anything by it.
  vt::ItemSpec huge = Stripped(kA);
  huge.size = uint64_t{1} << 62;
  const testing::RunResult corrupt =
      RunRestore({f.dir.File("b_only.qdm"), f.Put("huge.qdm", Model({Blob("w", kRaw, {huge})}))}, f.Out());
  EXPECT_EQ(corrupt.err, "\n[ERROR] Missing weight data for: a (hash=1, size=4611686018427387904)\n");

  // A nameless header is reported as "unknown".
  vt::ItemSpec nameless = Stripped(kA);
  nameless.name.clear();
  const testing::RunResult r =
      RunRestore({f.dir.File("b_only.qdm"), f.Put("nameless.qdm", Model({Blob("w", kRaw, {nameless})}))}, f.Out());
  EXPECT_EQ(r.err, "\n[ERROR] Missing weight data for: unknown (hash=1, size=8)\n");
}

TEST(RestoreTest, AnySourceSuppliesAKeyWhateverBinaryHoldsIt) {
  Files f;
  // The sources' bytes of c, d and e differ from the stripped model's own copies.
  const auto other = [](vt::ItemSpec item, uint8_t fill) {
    item.bytes.assign(item.bytes.size(), fill);
    return item;
  };
  const vt::ItemSpec kE = vt::Weight("e", 5, 12, 5);
  const std::string source =
      f.Put("source.qdm", Model({Blob("r", kRaw, {kA, other(kD, 0xD5)}),
                                 Blob("e", kEmbedded, {kB, other(kC, 0xC5), other(kE, 0xE5)})}));
  const std::string stripped =
      f.Put("stripped.qdm", Model({Blob("e", kEmbedded, {Stripped(kA), kD, Stripped(kD), kE, Stripped(kE)}),
                                   Blob("r", kRaw, {Stripped(kB), kC, Stripped(kC)})}));
  const testing::RunResult r = RunRestore({source, stripped}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const vt::Bytes out = vt::ReadFile(f.Out());
  // An embedded weight from a RAW_OFFSET source, a raw weight from an embedded one.
  EXPECT_EQ(BytesOf(out, 0, 0), kA.bytes);
  EXPECT_EQ(BytesOf(out, 1, 0), kB.bytes);
  // An embedded header keeps its own bytes over a RAW_OFFSET source's, and
  // takes those of a source that held the key embedded.
  EXPECT_EQ(BytesOf(out, 0, 1), kD.bytes);
  EXPECT_EQ(BytesOf(out, 0, 2), other(kD, 0xD5).bytes);
  EXPECT_EQ(BytesOf(out, 0, 3), other(kE, 0xE5).bytes);
  EXPECT_EQ(BytesOf(out, 0, 4), other(kE, 0xE5).bytes);
  // A raw key takes the collected bytes over the model's own, in its one place.
  EXPECT_EQ(BytesOf(out, 1, 1), other(kC, 0xC5).bytes);
  EXPECT_EQ(Header(out, 1, 2).offset(), Header(out, 1, 1).offset());
}

TEST(RestoreTest, WithNothingStrippedEverySourceWeightIsCollected) {
  Files f;
  vt::ItemSpec other_bytes = kA;
  other_bytes.bytes.assign(8, 0x77);
  const std::string one = f.Put("one.qdm", Model({Blob("w", kRaw, {kA})}));
  const std::string two = f.Put("two.qdm", Model({Blob("w", kRaw, {other_bytes})}));
  const std::string plain = f.Put("plain.qdm", Model({Blob("w", kRaw, {kC})}));
  const testing::RunResult collision = RunRestore({one, two, plain}, f.Out());
  EXPECT_EQ(collision.status, 1);
  EXPECT_TRUE(collision.err.starts_with("\n[ERROR] Collision: same (hash,size) but different bytes.")) << collision.err;

  const testing::RunResult fine = RunRestore({one, plain}, f.Out());
  ASSERT_EQ(fine.status, 0) << fine.err;
  EXPECT_NE(fine.out.find("[INFO] Need to restore 0 unique stripped weights from source models\n"), std::string::npos);
  EXPECT_NE(fine.out.find("[INFO] Collected 1 needed weights from source models\n"), std::string::npos);
  EXPECT_EQ(BytesOf(vt::ReadFile(f.Out()), 0, 0), kC.bytes);
}

TEST(RestoreTest, FailuresSayWhatWentWrong) {
  Files f;
  const std::string source = f.Put("source.qdm", Model({Blob("w", kRaw, {kA})}));
  const std::string stripped = f.Put("stripped.qdm", Model({Blob("w", kRaw, {Stripped(kA)})}));
  vt::ModelSpec no_weights_spec = Model({});
  const std::string no_weights = f.Put("no_weights.qdm", no_weights_spec);
  vt::WriteFile(f.dir.File("garbage.qdm"), vt::Bytes(64, 0x5A));
  const std::string garbage = f.dir.File("garbage.qdm");
  const std::string missing = f.dir.File("missing.qdm");

  struct Case {
    std::vector<std::string> inputs;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{stripped}, "[ERROR] Need at least 2 input models (one or more source models and the stripped model).\n"},
      {{source, missing}, "[ERROR] Loading model failed: " + missing + "\n"},
      {{missing, stripped}, "[ERROR] Loading model failed: " + missing + "\n"},
      {{garbage, stripped}, "[ERROR] Model FlatBuffer verification failed!\n"},
      {{no_weights, stripped},
       "[WARN] Source model has no weights, skipping: " + no_weights +
           "\n\n[ERROR] Missing weight data for: a (hash=1, size=8)\n"},
      {{source, no_weights}, "[ERROR] Stripped model has no weights field\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.inputs.back() + " with " + c.inputs.front());
    const testing::RunResult r = RunRestore(c.inputs, f.Out());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(f.Out()));
  }

  // A Binary named "shared_weights" comes back with real offsets, which the strict check refuses.
  const std::string named = f.Put("named.qdm", Model({Blob("shared_weights", kRaw, {Stripped(kA)})}));
  const testing::RunResult r = RunRestore({source, named}, f.Out());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "[ERROR] shared_weights header offset must be STRIPPED_WEIGHT_OFFSET_MARKER (0xffffffffffffffff): a "
            "(actual offset: 0x0)\n[ERROR] Verify failed.\n[ERROR] Verification failed for: " +
                f.Out() + "\n[ERROR] Failed to build/write/verify model to: " + f.Out() + "\n");
}

}  // namespace
}  // namespace vadu::qdmstrip
