// The guarantee users rely on: strip C against earlier models, restore it
// with those models as sources, and every weight header of C comes back with
// its size, hash, alignment, name and bytes; the stripped model holds exactly
// the kept weights, laid out by the alignment rule. Checked over a fixed set
// of generated model sets so that a failure is reproducible by its seed.
#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stripped_weight_marker.h"
#include "strip_restore_runs.h"
#include "test_support.h"
#include "weight_model_generator.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::HeaderBytes;
using testing::ModelOf;
using testing::PassesStrictCheck;
using testing::RunRestore;
using testing::RunStrip;
using testing::ScratchDir;

using Key = std::pair<uint64_t, uint64_t>;

constexpr uint64_t kSeeds = 120;

Key KeyOfItem(const vt::ItemSpec &item) {
  return {item.has_hash ? item.hash : 0, item.size ? *item.size : item.bytes.size()};
}

// Keys every earlier model holds.
std::set<Key> SharedKeys(const std::vector<vt::ModelSpec> &earlier) {
  std::set<Key> shared;
  for (size_t m = 0; m < earlier.size(); ++m) {
    std::set<Key> keys;
    for (const vt::BinarySpec &blob : earlier[m].weights) {
      for (const vt::ItemSpec &item : blob.items) {
        if (KeyOfItem(item).second != 0) keys.insert(KeyOfItem(item));
      }
    }
    if (m == 0) {
      shared = keys;
    } else {
      std::erase_if(shared, [&keys](const Key &k) { return !keys.contains(k); });
    }
  }
  return shared;
}

std::string Name(const flatbuffers::String *s) { return s ? s->str() : std::string(); }
std::vector<uint8_t> Copy(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }
bool IsRaw(const vb::Binary &blob) { return blob.type() == vb::BinaryType_RAW_OFFSET; }

void Append(vt::Bytes &layout, std::span<const uint8_t> bytes, uint32_t align) {
  layout.resize(vt::AlignedStart(layout.size(), align), 0);
  layout.insert(layout.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Data(const vb::Binary &blob) {
  return blob.data() ? std::vector<uint8_t>(blob.data()->begin(), blob.data()->end()) : std::vector<uint8_t>();
}

// Both models have the same weight Binaries (type, name, attributes) with the same header fields.
void ExpectSameHeaderFields(const vb::Model &original, const vb::Model &copy) {
  ASSERT_NE(copy.weights(), nullptr);
  ASSERT_EQ(copy.weights()->size(), original.weights()->size());
  for (size_t b = 0; b < original.weights()->size(); ++b) {
    const vb::Binary &from = *original.weights()->Get(b);
    const vb::Binary &to = *copy.weights()->Get(b);
    EXPECT_EQ(to.type(), from.type());
    EXPECT_EQ(Name(to.name()), Name(from.name()));
    {
      SCOPED_TRACE("binary " + std::to_string(b));
      testing::ExpectSameBinaryAttrs(from, to);
    }
    ASSERT_EQ(to.headers()->size(), from.headers()->size()) << "binary " << b;
    for (size_t h = 0; h < from.headers()->size(); ++h) {
      const vb::BinaryHeader &x = *from.headers()->Get(h);
      const vb::BinaryHeader &y = *to.headers()->Get(h);
      EXPECT_EQ(y.size(), x.size()) << "binary " << b << " header " << h;
      EXPECT_EQ(y.hash(), x.hash()) << "binary " << b << " header " << h;
      EXPECT_EQ(y.align(), x.align()) << "binary " << b << " header " << h;
      EXPECT_EQ(Name(y.name()), Name(x.name())) << "binary " << b << " header " << h;
    }
  }
}

void CheckStripped(const vt::Bytes &c_bytes, const vt::Bytes &s_bytes, const std::set<Key> &shared) {
  EXPECT_TRUE(PassesStrictCheck(s_bytes));
  const vb::Model &c = *ModelOf(c_bytes);
  const vb::Model &s = *ModelOf(s_bytes);
  ExpectSameHeaderFields(c, s);
  if (::testing::Test::HasFatalFailure()) return;

  vt::Bytes raw_layout;
  for (size_t b = 0; b < c.weights()->size(); ++b) {
    const vb::Binary &cb = *c.weights()->Get(b);
    const vb::Binary &sb = *s.weights()->Get(b);
    vt::Bytes data_layout;
    for (size_t h = 0; h < cb.headers()->size(); ++h) {
      const vb::BinaryHeader &ch = *cb.headers()->Get(h);
      const vb::BinaryHeader &sh = *sb.headers()->Get(h);
      SCOPED_TRACE("binary " + std::to_string(b) + " header " + std::to_string(h));
      if (ch.size() == 0) {
        EXPECT_EQ(sh.offset(), 0u);
      } else if (shared.contains({ch.hash(), ch.size()})) {
        EXPECT_EQ(sh.offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
      } else {
        const auto bytes = HeaderBytes(c, cb, ch);
        Append(IsRaw(cb) ? raw_layout : data_layout, bytes, ch.align());
        EXPECT_EQ(Copy(HeaderBytes(s, sb, sh)), Copy(bytes));
      }
    }
    if (IsRaw(cb)) {
      EXPECT_EQ(sb.data(), nullptr);
    } else {
      EXPECT_EQ(Data(sb), data_layout) << "data of binary " << b;
    }
  }
  ASSERT_NE(s.raw_data(), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(s.raw_data()->begin(), s.raw_data()->end()), raw_layout);
}

void CheckRestored(const vt::Bytes &c_bytes, const vt::Bytes &r_bytes) {
  EXPECT_TRUE(PassesStrictCheck(r_bytes));
  const vb::Model &c = *ModelOf(c_bytes);
  const vb::Model &r = *ModelOf(r_bytes);
  ExpectSameHeaderFields(c, r);
  if (::testing::Test::HasFatalFailure()) return;
  for (size_t b = 0; b < c.weights()->size(); ++b) {
    const vb::Binary &cb = *c.weights()->Get(b);
    const vb::Binary &rb = *r.weights()->Get(b);
    for (size_t h = 0; h < cb.headers()->size(); ++h) {
      const vb::BinaryHeader &ch = *cb.headers()->Get(h);
      const vb::BinaryHeader &rh = *rb.headers()->Get(h);
      SCOPED_TRACE("binary " + std::to_string(b) + " header " + std::to_string(h));
      if (ch.size() == 0) {
        EXPECT_EQ(rh.offset(), 0u);
      } else {
        const auto restored = HeaderBytes(r, rb, rh);
        EXPECT_EQ(restored.size(), ch.size());
        EXPECT_EQ(Copy(restored), Copy(HeaderBytes(c, cb, ch)));
      }
    }
  }
  // Every byte of the weight data, the zero gaps included.
  const testing::RestoredLayout layout = testing::ExpectedRestoredLayout(c);
  for (size_t b = 0; b < c.weights()->size(); ++b) {
    EXPECT_EQ(Data(*r.weights()->Get(b)), layout.data[b]) << "data of binary " << b;
  }
  if (layout.raw.empty()) {
    EXPECT_EQ(r.raw_data(), nullptr);
  } else {
    ASSERT_NE(r.raw_data(), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(r.raw_data()->begin(), r.raw_data()->end()), layout.raw);
  }
}

TEST(StripRestoreRoundTripTest, EveryWeightComesBackOverGeneratedModels) {
  uint64_t stripped_headers = 0;
  for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const testing::ModelSet set = testing::GenerateModelSet(seed);
    ScratchDir dir;
    std::vector<std::string> sources;
    for (size_t i = 0; i < set.earlier.size(); ++i) {
      sources.push_back(dir.File("E" + std::to_string(i) + ".qdm"));
      vt::WriteFile(sources.back(), vt::BuildModel(set.earlier[i]));
    }
    const vt::Bytes c_bytes = vt::BuildModel(set.last);
    vt::WriteFile(dir.File("C.qdm"), c_bytes);

    std::vector<std::string> strip_inputs = sources;
    strip_inputs.push_back(dir.File("C.qdm"));
    const testing::RunResult strip = RunStrip(strip_inputs, dir.File("S.qdm"));
    ASSERT_EQ(strip.status, 0) << strip.err;
    const vt::Bytes s_bytes = vt::ReadFile(dir.File("S.qdm"));
    const std::set<Key> shared = SharedKeys(set.earlier);
    CheckStripped(c_bytes, s_bytes, shared);

    std::vector<std::string> restore_inputs = sources;
    restore_inputs.push_back(dir.File("S.qdm"));
    const testing::RunResult restore = RunRestore(restore_inputs, dir.File("R.qdm"));
    ASSERT_EQ(restore.status, 0) << restore.err;
    const vt::Bytes r_bytes = vt::ReadFile(dir.File("R.qdm"));
    CheckRestored(c_bytes, r_bytes);

    // The order of the sources plays no part, and the first earlier model
    // alone holds every stripped key.
    std::vector<std::string> reversed(sources.rbegin(), sources.rend());
    reversed.push_back(dir.File("S.qdm"));
    ASSERT_EQ(RunRestore(reversed, dir.File("R2.qdm")).status, 0);
    EXPECT_EQ(vt::ReadFile(dir.File("R2.qdm")), r_bytes);
    ASSERT_EQ(RunRestore({sources[0], dir.File("S.qdm")}, dir.File("R3.qdm")).status, 0);
    EXPECT_EQ(vt::ReadFile(dir.File("R3.qdm")), r_bytes);

    for (const vb::Binary *blob : *ModelOf(s_bytes)->weights()) {
      for (const vb::BinaryHeader *h : *blob->headers()) stripped_headers += h->offset() == STRIPPED_WEIGHT_OFFSET_MARKER;
    }
  }
  // The generator must actually exercise stripping.
  EXPECT_GT(stripped_headers, kSeeds);
}

// A model C made of large embedded weights, beside a raw one, and an earlier
// model E that holds two of them.
struct EmbeddedWeightFiles {
  ScratchDir dir;
  std::string e = dir.File("E.qdm");
  std::string c = dir.File("C.qdm");
  std::string s = dir.File("S.qdm");
  std::string r = dir.File("R.qdm");

  EmbeddedWeightFiles() {
    std::vector<vt::ItemSpec> weights;
    for (uint8_t i = 0; i < 4; ++i) weights.push_back(vt::Weight("e" + std::to_string(i), 100 + i, 4 << 20, i));
    vt::BinarySpec embedded;
    embedded.items = {weights[0], weights[1]};
    vt::ModelSpec earlier = vt::SimpleModel("earlier", {});
    earlier.weights.push_back(embedded);
    embedded.items = weights;
    vt::ModelSpec last = vt::SimpleModel("last", {vt::Weight("r", 1, 64, 1)});
    last.weights.push_back(embedded);
    vt::WriteFile(e, vt::BuildModel(earlier));
    vt::WriteFile(c, vt::BuildModel(last));
  }
};

// What is checked against the allocation limit is what a run will hold, not
// the room it reserves: a model made of large embedded weights strips and
// restores, stripped or not, under a limit its output fills to 80 %.
TEST(StripRestoreRoundTripTest, EmbeddedWeightsWithinTheAllocationLimit) {
  const EmbeddedWeightFiles f;
  testing::RunResult r = testing::RunUnderATightLimit([&] { return RunStrip({f.e, f.c}, f.s); }, f.s);
  ASSERT_EQ(r.status, 0) << r.err;
  r = testing::RunUnderATightLimit([&] { return RunRestore({f.e, f.s}, f.r); }, f.r);
  EXPECT_EQ(r.status, 0) << r.err;
  r = testing::RunUnderATightLimit([&] { return RunRestore({f.e, f.c}, f.r); }, f.r);
  EXPECT_EQ(r.status, 0) << r.err;
}

// The same runs under a limit just below what they write are refused with
// the out-of-memory line, and write nothing.
TEST(StripRestoreRoundTripTest, EmbeddedWeightsBeyondTheAllocationLimit) {
  const EmbeddedWeightFiles f;
  ASSERT_EQ(RunStrip({f.e, f.c}, f.s).status, 0);
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return RunStrip({f.e, f.c}, f.r); }, f.r));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return RunRestore({f.e, f.s}, f.r); }, f.r));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return RunRestore({f.e, f.c}, f.r); }, f.r));
}

// Two embedded Binaries of C share one data vector, the second addressing
// two of the first's weights in it. Rebuilt, each Binary gets data of its
// own, so the output holds those bytes twice: the runs count them so, under
// a limit their output fills to 80 % and just below it, and every header's
// bytes come back.
TEST(StripRestoreRoundTripTest, BinariesSharingOneDataVector) {
  ScratchDir dir;
  const testing::ModelSet set = testing::SharedDataModelSet();
  const vt::Bytes c_bytes = vt::BuildModel(set.last);
  ASSERT_EQ(ModelOf(c_bytes)->weights()->Get(1)->data(), ModelOf(c_bytes)->weights()->Get(2)->data());
  const std::string e = dir.File("E.qdm");
  const std::string c = dir.File("C.qdm");
  const std::string s = dir.File("S.qdm");
  const std::string restored = dir.File("R.qdm");
  vt::WriteFile(e, vt::BuildModel(set.earlier[0]));
  vt::WriteFile(c, c_bytes);

  testing::RunResult r = testing::RunUnderATightLimit([&] { return RunStrip({e, c}, s); }, s);
  ASSERT_EQ(r.status, 0) << r.err;
  CheckStripped(c_bytes, vt::ReadFile(s), SharedKeys(set.earlier));
  r = testing::RunUnderATightLimit([&] { return RunRestore({e, s}, restored); }, restored);
  ASSERT_EQ(r.status, 0) << r.err;
  CheckRestored(c_bytes, vt::ReadFile(restored));
  r = testing::RunUnderATightLimit([&] { return RunRestore({e, c}, restored); }, restored);
  ASSERT_EQ(r.status, 0) << r.err;
  CheckRestored(c_bytes, vt::ReadFile(restored));

  const std::string out = dir.File("out.qdm");
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return RunStrip({e, c}, out); }, out));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return RunRestore({e, s}, out); }, out));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return RunRestore({e, c}, out); }, out));
}

}  // namespace
}  // namespace vadu::qdmstrip
