// The container restore: its lines in order, where the bytes come from, the
// rebuilt sub-models and container, and its failures, including sub-models
// whose header range lies outside model_data.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "container_runs.h"
#include "stripped_weight_marker.h"
#include "test_support.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::CompleteBar;
using testing::HeaderBytes;
using testing::ModelOf;
using testing::ModelsOf;
using testing::RunContainerRestore;
using testing::ScratchDir;
using testing::SubModelAt;

constexpr int32_t kRaw = 3;
constexpr int32_t kEmbedded = 0;

const vt::ItemSpec kA = vt::Weight("a", 1, 8, 1);
const vt::ItemSpec kB = vt::Weight("b", 2, 16, 2);
const vt::ItemSpec kC = vt::Weight("c", 3, 4, 3);
const vt::ItemSpec kD = vt::Weight("d", 4, 10, 4, 16);

vt::ItemSpec Stripped(vt::ItemSpec item) {
  item.offset = STRIPPED_WEIGHT_OFFSET_MARKER;
  return item;
}

vt::ModelSpec Model(int32_t type, std::vector<vt::ItemSpec> items) {
  vt::ModelSpec spec = vt::SimpleModel("m", items);
  spec.weights[0].type = type;
  spec.force_raw_data = true;
  return spec;
}
vt::ModelSpec Raw(std::vector<vt::ItemSpec> items) { return Model(kRaw, std::move(items)); }

vt::SubModelSpec Sub(const vt::ModelSpec &model, uint32_t align = 0) {
  vt::SubModelSpec sub;
  sub.bytes = vt::BuildModel(model);
  sub.align = align;
  return sub;
}

// Containers written into one scratch directory by name.
struct Files {
  ScratchDir dir;
  std::string Put(const std::string &name, std::vector<vt::SubModelSpec> subs) {
    vt::ContainerSpec spec;
    spec.models = std::move(subs);
    return PutBytes(name, vt::BuildContainer(spec));
  }
  std::string PutBytes(const std::string &name, const vt::Bytes &bytes) {
    vt::WriteFile(dir.File(name), bytes);
    return dir.File(name);
  }
  std::string Out() const { return dir.File("out.qdms"); }
};

std::vector<uint8_t> WeightBytes(const vt::Bytes &sub, uint32_t blob, uint32_t header) {
  const vb::Model &m = *ModelOf(sub);
  const auto bytes = HeaderBytes(m, *m.weights()->Get(blob), *m.weights()->Get(blob)->headers()->Get(header));
  return {bytes.begin(), bytes.end()};
}

TEST(ContainerRestoreTest, PrintsEveryStepInOrderAndRestoresSilently) {
  Files f;
  const std::string source = f.Put("a.qdms", {Sub(Raw({kA, kB})), Sub(Raw({kC}))});
  vt::SubModelSpec stripped = Sub(Raw({Stripped(kA), kD, Stripped(kC)}), 16);
  stripped.hash = 77;
  stripped.name = "first";
  const std::string last = f.Put("s.qdms", {stripped});
  const testing::RunResult r = RunContainerRestore({source, last}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  const vt::Bytes out = vt::ReadFile(f.Out());
  const std::string size = std::to_string(out.size());
  EXPECT_EQ(r.out, "[INFO] Source qdms files: 1\n[INFO] Stripped qdms: " + last + "\n" +
                       CompleteBar("Collect Source Qdms", 1) +
                       "[INFO] Collected 3 unique weights from source qdms files\n" + CompleteBar("Restore Qdms", 1) +
                       "[INFO] Buffer Write...\n" + CompleteBar("Buffer Write", out.size()) + "[INFO] Saving...\n" +
                       "[INFO] Verify Models buffer...\n" + "[DONE] Models written: " + f.Out() + " (size=" + size +
                       " bytes)\n" + "[DONE] Restored qdms written: " + f.Out() + " (size=" + size + " bytes)\n");
  EXPECT_EQ(r.err, "");

  const vb::Models &container = *ModelsOf(out);
  const vb::BinaryHeader &header = *container.model_headers()->Get(0);
  EXPECT_EQ(header.hash(), 77u);  // the stripped container's, not one of the restored bytes
  EXPECT_EQ(header.align(), 16u);
  EXPECT_EQ(header.name()->str(), "first");
  const vt::Bytes sub = SubModelAt(container, 0);
  EXPECT_EQ(WeightBytes(sub, 0, 0), kA.bytes);
  EXPECT_EQ(WeightBytes(sub, 0, 1), kD.bytes);
  EXPECT_EQ(WeightBytes(sub, 0, 2), kC.bytes);
  // Inputs and outputs are always written, the other empty lists never.
  EXPECT_NE(container.inputs(), nullptr);
  EXPECT_NE(container.outputs(), nullptr);
  EXPECT_EQ(container.devices(), nullptr);
  EXPECT_EQ(container.operations(), nullptr);
}

TEST(ContainerRestoreTest, WhereTheBytesComeFrom) {
  Files f;
  vt::ItemSpec other_a = kA;  // the same key with the sub-model's own, different bytes
  other_a.bytes.assign(kA.bytes.size(), 0xAB);
  vt::ItemSpec late_b = kB;
  late_b.align = 48;
  vt::ModelSpec weightless = vt::SimpleModel("none", {});
  weightless.weights.clear();
  const std::string first = f.Put("a.qdms", {Sub(weightless), Sub(Model(kEmbedded, {kC})), Sub(Raw({kA, kB}))});
  const std::string second = f.Put("b.qdms", {Sub(Raw({kB}))});  // equal bytes: no collision
  vt::ModelSpec mixed = Raw({other_a, Stripped(kB), kD, Stripped(late_b)});
  vt::BinarySpec embedded;
  embedded.type = kEmbedded;
  embedded.items = {Stripped(kC)};
  mixed.weights.push_back(embedded);
  const std::string last = f.Put("s.qdms", {Sub(mixed, 3), Sub(Raw({kD, Stripped(kB)}))});
  const testing::RunResult r = RunContainerRestore({first, second, last}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("[INFO] Collected 3 unique weights"), std::string::npos);

  const vt::Bytes out = vt::ReadFile(f.Out());
  const vb::Models &container = *ModelsOf(out);
  EXPECT_EQ(container.model_headers()->Get(1)->offset(),
            vt::AlignedStart(container.model_headers()->Get(0)->size(), 0));
  const vt::Bytes sub = SubModelAt(container, 0);
  const auto &headers = *ModelOf(sub)->weights()->Get(0)->headers();
  // A weight the sources hold is taken from them, one they lack from the sub-model itself.
  EXPECT_EQ(WeightBytes(sub, 0, 0), kA.bytes);
  EXPECT_EQ(WeightBytes(sub, 0, 2), kD.bytes);
  // One copy of b, at the largest alignment any of its headers asks for: a at
  // 0, b at 48, d at 64.
  EXPECT_EQ(WeightBytes(sub, 0, 1), kB.bytes);
  EXPECT_EQ(headers.Get(1)->offset(), 48u);
  EXPECT_EQ(headers.Get(3)->offset(), 48u);
  EXPECT_EQ(headers.Get(3)->align(), 48u);
  EXPECT_EQ(headers.Get(2)->offset(), 64u);
  EXPECT_EQ(ModelOf(sub)->raw_data()->size(), 64 + kD.bytes.size());
  // An embedded weight takes its bytes from a source that held it embedded.
  EXPECT_EQ(WeightBytes(sub, 1, 0), kC.bytes);
  // A later sub-model still finds a weight an earlier one used.
  EXPECT_EQ(WeightBytes(SubModelAt(container, 1), 0, 1), kB.bytes);
}

// As in a single model: one copy at a multiple of the key's largest
// alignment, widened only for RAW_OFFSET headers it does not suit; a copy
// beyond 64 bits fails before anything is written.
TEST(ContainerRestoreTest, EqualRawKeysWithAlignmentsThatDoNotDivide) {
  Files f;
  const std::string source = f.Put("a.qdms", {Sub(Raw({kA}))});
  struct Case {
    uint32_t first;
    uint32_t second;      // of a second RAW_OFFSET header, when not 0
    uint32_t embedded;    // of an embedded a, when not 0
    bool after_c;
    uint64_t offset;
  };
  for (const Case &c : {Case{3, 16, 0, true, 48}, Case{48, 64, 0, true, 192}, Case{16, 0, 3, true, 16},
                        Case{4096, 0, 48, true, 4096}, Case{65536, 65537, 0, false, 0}}) {
    SCOPED_TRACE(std::to_string(c.first) + ", " + std::to_string(c.second) + ", embedded " +
                 std::to_string(c.embedded));
    std::vector<vt::ItemSpec> raw;
    if (c.after_c) raw.push_back(kC);
    for (uint32_t align : {c.first, c.second}) {
      if (align == 0) continue;
      raw.push_back(Stripped(kA));
      raw.back().align = align;
    }
    vt::ModelSpec model = Raw(raw);
    if (c.embedded != 0) {
      vt::ItemSpec a = kA;
      a.align = c.embedded;
      model.weights.push_back(model.weights[0]);
      model.weights.back().type = kEmbedded;
      model.weights.back().items = {a};
    }
    const std::string last = f.Put("s.qdms", {Sub(model)});
    const testing::RunResult r = RunContainerRestore({source, last}, f.Out());
    ASSERT_EQ(r.status, 0) << r.err;
    const vt::Bytes out = vt::ReadFile(f.Out());
    const vt::Bytes sub = SubModelAt(*ModelsOf(out), 0);
    EXPECT_TRUE(testing::PassesStrictCheck(sub));
    const auto &headers = *ModelOf(sub)->weights()->Get(0)->headers();
    for (uint32_t i = c.after_c ? 1 : 0; i < raw.size(); ++i) EXPECT_EQ(headers.Get(i)->offset(), c.offset);
    EXPECT_EQ(WeightBytes(sub, 0, raw.size() - 1), kA.bytes);
    std::filesystem::remove(f.Out());
  }

  std::vector<vt::ItemSpec> raw = {kC};
  for (uint32_t align : {4294967291u, 4294967279u, 4294967231u}) {  // primes
    raw.push_back(Stripped(kA));
    raw.back().align = align;
  }
  const testing::RunResult r = RunContainerRestore({source, f.Put("s.qdms", {Sub(Raw(raw))})}, f.Out());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[ERROR] Out of memory: cannot allocate the model being built: its size does not fit in 64 bits\n");
  EXPECT_EQ(r.out.find("[DONE]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(f.Out()));
}

TEST(ContainerRestoreTest, EmptyHeaderListGivesAnEmptyContainer) {
  Files f;
  const std::string source = f.Put("a.qdms", {Sub(Raw({kA}))});
  const std::string last = f.Put("s.qdms", {});
  const testing::RunResult r = RunContainerRestore({source, last}, f.Out());
  ASSERT_EQ(r.status, 0) << r.err;
  const vt::Bytes out = vt::ReadFile(f.Out());
  const vb::Models &container = *ModelsOf(out);
  EXPECT_EQ(container.model_data()->size(), 0u);
  EXPECT_EQ(container.model_headers(), nullptr);
  ASSERT_NE(container.inputs(), nullptr);
  EXPECT_EQ(container.inputs()->size(), 0u);
  EXPECT_EQ(container.attrs(), nullptr);
}

struct FailureCase {
  std::string what;
  std::vector<vt::Bytes> files;  // sources, then the stripped container
  std::string err;               // "@N" stands for the path of input N
};

std::string WithPaths(std::string text, const std::vector<std::string> &inputs) {
  for (size_t i = 0; i < inputs.size(); ++i) {
    const std::string mark = "@" + std::to_string(i);
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark)) text.replace(at, 2, inputs[i]);
  }
  return text;
}

vt::Bytes ContainerOf(std::vector<vt::SubModelSpec> subs, bool model_data = true, bool model_headers = true) {
  vt::ContainerSpec spec;
  spec.models = std::move(subs);
  spec.has_model_data = model_data;
  spec.has_model_headers = model_headers;
  return vt::BuildContainer(spec);
}

TEST(ContainerRestoreTest, FailuresSayWhatWentWrongAndWriteNothing) {
  const vt::Bytes source = ContainerOf({Sub(Raw({kA, kB}))});
  const vt::Bytes stripped = ContainerOf({Sub(Raw({Stripped(kA), kC}))});
  auto out_of_range = [](uint64_t offset, uint64_t size) {
    vt::SubModelSpec sub = Sub(Raw({kA}));
    sub.offset = offset;
    sub.size = size;
    return ContainerOf({Sub(Raw({kA})), sub});
  };
  vt::ItemSpec other_b = kB;
  other_b.name = "b2";
  other_b.bytes.assign(kB.bytes.size(), 0);
  vt::ItemSpec unnamed = Stripped(kD);
  unnamed.name.clear();
  vt::ModelSpec weightless = vt::SimpleModel("none", {});
  weightless.weights.clear();
  vt::ModelSpec no_config = Raw({Stripped(kA)});
  no_config.config.reset();
  const std::string restore_failed = "[ERROR] Failed to restore sub-model\n";
  const std::vector<FailureCase> cases = {
      {"source that is itself stripped", {stripped, stripped}, "[ERROR] RAW_OFFSET weight out of range: a\n"},
      {"embedded source weight outside its data", {ContainerOf({Sub(Model(kEmbedded, {Stripped(kC)}))}), stripped},
       "[ERROR] Embedded weight out of range: c\n"},
      {"equal key, different bytes", {source, ContainerOf({Sub(Raw({other_b}))}), stripped},
       "[ERROR] Collision: same (hash,size) but different bytes. key(hash=2, size=16) prev_src=@0 cur_src=@1 "
       "name_prev=b name_cur=b2\n"},
      {"source range beyond model_data", {out_of_range(1u << 20, 64), stripped},
       "[ERROR] Sub-model verification failed in source qdms\n"},
      {"stripped range that wraps around", {source, out_of_range(~uint64_t{0} - 15, 64)},
       "[ERROR] Sub-model verification failed in stripped qdms\n"},
      {"stripped file that is no container", {source, vt::BuildModel(Raw({kA}))},
       "[ERROR] VerifyModelsBuffer failed: @1\n[ERROR] Invalid stripped qdms\n"},
      {"source without model_headers", {ContainerOf({Sub(Raw({kA, kB}))}, true, false), stripped},
       "[ERROR] Invalid source qdms: @0\n"},
      {"source without model_data", {source, ContainerOf({Sub(Raw({kA, kB}))}, false, true), stripped},
       "[ERROR] Invalid source qdms: @1\n"},
      {"stripped container without model_headers", {source, ContainerOf({Sub(Raw({Stripped(kA), kC}))}, true, false)},
       "[ERROR] Invalid stripped qdms\n"},
      {"stripped container without model_data", {source, ContainerOf({Sub(Raw({Stripped(kA), kC}))}, false, true)},
       "[ERROR] Invalid stripped qdms\n"},
      {"raw key in no source", {source, ContainerOf({Sub(Raw({Stripped(kC)}))})},
       "[ERROR] Missing weight data for: c (hash=3, size=4)\n" + restore_failed},
      {"unnamed raw key in no source", {source, ContainerOf({Sub(Raw({unnamed}))})},
       "[ERROR] Missing weight data for: unknown (hash=4, size=10)\n" + restore_failed},
      {"embedded key in no source", {source, ContainerOf({Sub(Model(kEmbedded, {Stripped(kD)}))})},
       "[ERROR] Missing embedded weight data for: d\n" + restore_failed},
      {"stripped sub-model without weights", {source, ContainerOf({Sub(weightless)})},
       "[ERROR] stripped_sub has no weights field\n" + restore_failed},
      {"restored sub-model without config", {source, ContainerOf({Sub(no_config)})},
       "[ERROR] Runtime-required field 'config' is null in output model\n"
       "[ERROR] Restored sub-model verification failed\n" +
           restore_failed},
  };
  for (const FailureCase &c : cases) {
    SCOPED_TRACE(c.what);
    Files f;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < c.files.size(); ++i) inputs.push_back(f.PutBytes("in" + std::to_string(i) + ".qdms", c.files[i]));
    testing::WorkingDirectory in(f.dir.path());
    const testing::RunResult r = RunContainerRestore(inputs, f.Out());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, WithPaths(c.err, inputs));
    EXPECT_FALSE(std::filesystem::exists(f.Out()));
    EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "model_verify_failed.bin"));
  }

  const testing::RunResult alone = RunContainerRestore({"s.qdms"}, "out.qdms");
  EXPECT_EQ(alone.status, 1);
  EXPECT_EQ(alone.err, "[ERROR] Need at least 2 input qdms (source + stripped).\n");

  Files f;
  const std::vector<std::string> inputs = {f.PutBytes("a.qdms", source), f.PutBytes("s.qdms", stripped)};
  const testing::RunResult full = RunContainerRestore(inputs, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "[ERROR] Failed to write output: /dev/full\n[ERROR] Failed to write restored qdms\n");
  EXPECT_EQ(full.out.find("[DONE]"), std::string::npos);
}

}  // namespace
}  // namespace vadu::qdmstrip
