// The round trip over containers: strip the last container against earlier
// ones, restore it with them as sources, and every sub-model comes back with
// every weight header's size, hash, alignment, name and bytes; the container
// headers keep their hash, alignment and name, and the sub-models sit where
// the alignment rule puts them. Checked over generated container sets whose
// shared keys lie in different sub-models of the earlier containers.
#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "container_runs.h"
#include "stripped_weight_marker.h"
#include "test_support.h"
#include "weight_model_generator.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace vt = ::vadu::testing;
using testing::HeaderBytes;
using testing::ModelOf;
using testing::ModelsOf;
using testing::PassesStrictCheck;
using testing::ScratchDir;
using testing::SubModelAt;

using Key = std::pair<uint64_t, uint64_t>;

constexpr uint64_t kSeeds = 40;

struct ContainerSet {
  std::vector<vt::ContainerSpec> earlier;
  vt::ContainerSpec last;
};

vt::SubModelSpec SubModel(const vt::ModelSpec &model, std::mt19937_64 &rng, const std::string &name) {
  static const uint32_t kAligns[] = {0, 16, 3, 8, 7};
  vt::SubModelSpec sub;
  sub.bytes = vt::BuildModel(model);
  sub.align = kAligns[rng() % 5];
  sub.hash = rng() % 3 == 0 ? 0 : rng();
  sub.name = rng() % 4 == 0 ? "" : name;
  return sub;
}

// One model set per sub-model of the last container; earlier container i
// holds the i-th earlier model of every set, in an order of its own, and at
// times a sub-model without weights.
ContainerSet GenerateContainerSet(uint64_t seed) {
  std::mt19937_64 rng(seed);
  ContainerSet set;
  const uint64_t sub_models = 1 + rng() % 3;
  const uint64_t earlier = 1 + rng() % 2;
  set.earlier.resize(earlier);
  for (uint64_t j = 0; j < sub_models; ++j) {
    const testing::ModelSet models = testing::GenerateModelSet(seed * 16 + j);
    set.last.models.push_back(SubModel(models.last, rng, "sub" + std::to_string(j)));
    for (uint64_t i = 0; i < earlier; ++i) {
      set.earlier[i].models.push_back(SubModel(models.earlier[i], rng, "e" + std::to_string(j)));
    }
  }
  for (vt::ContainerSpec &container : set.earlier) {
    std::shuffle(container.models.begin(), container.models.end(), rng);
    if (rng() % 2 == 0) {
      vt::ModelSpec weightless = vt::SimpleModel("none", {});
      weightless.weights.clear();
      container.models.insert(container.models.begin() + static_cast<std::ptrdiff_t>(rng() % 2),
                              SubModel(weightless, rng, "none"));
    }
  }
  set.last.devices = {{"npu", 0}, {"npu", 1}};
  set.last.inputs.resize(1);
  set.last.operations.resize(2);
  return set;
}

// Keys held by some sub-model of every earlier container.
std::set<Key> SharedKeys(const std::vector<vt::ContainerSpec> &earlier) {
  std::set<Key> shared;
  for (size_t c = 0; c < earlier.size(); ++c) {
    std::set<Key> keys;
    for (const vt::SubModelSpec &sub : earlier[c].models) {
      const vb::Model &model = *ModelOf(sub.bytes);
      if (model.weights() == nullptr) continue;
      for (const vb::Binary *blob : *model.weights()) {
        for (const vb::BinaryHeader *h : *blob->headers()) {
          if (h->size() != 0) keys.insert({h->hash(), h->size()});
        }
      }
    }
    if (c == 0) {
      shared = keys;
    } else {
      std::erase_if(shared, [&keys](const Key &k) { return !keys.contains(k); });
    }
  }
  return shared;
}

std::string Name(const flatbuffers::String *s) { return s ? s->str() : std::string(); }
std::vector<uint8_t> Copy(std::span<const uint8_t> s) { return {s.begin(), s.end()}; }

// The container headers keep hash, alignment and name; each sub-model starts
// at the next multiple of its alignment (64 for 0), with zero bytes between.
void CheckContainerLayout(const vb::Models &original, const vb::Models &written) {
  const auto &from = *original.model_headers();
  ASSERT_NE(written.model_headers(), nullptr);
  const auto &to = *written.model_headers();
  ASSERT_EQ(to.size(), from.size());
  const auto &data = *written.model_data();
  uint64_t end = 0;
  for (uint32_t i = 0; i < from.size(); ++i) {
    SCOPED_TRACE("sub-model " + std::to_string(i));
    EXPECT_EQ(to.Get(i)->hash(), from.Get(i)->hash());
    EXPECT_EQ(to.Get(i)->align(), from.Get(i)->align());
    EXPECT_EQ(Name(to.Get(i)->name()), Name(from.Get(i)->name()));
    const uint64_t start = vt::AlignedStart(end, to.Get(i)->align());
    EXPECT_EQ(to.Get(i)->offset(), start);
    EXPECT_TRUE(std::all_of(data.begin() + end, data.begin() + start, [](uint8_t b) { return b == 0; }));
    end = start + to.Get(i)->size();
  }
  EXPECT_EQ(data.size(), end);
  EXPECT_EQ(written.devices()->size(), original.devices()->size());
  EXPECT_EQ(written.operations()->size(), original.operations()->size());
}

// Every weight Binary of `copy` with the original's type, name and attributes, and every
// weight header in place with the original's size, hash, alignment and name.
void ExpectSameHeaderFields(const vb::Model &original, const vb::Model &copy) {
  ASSERT_NE(copy.weights(), nullptr);
  ASSERT_EQ(copy.weights()->size(), original.weights()->size());
  for (uint32_t b = 0; b < original.weights()->size(); ++b) {
    {
      SCOPED_TRACE("binary " + std::to_string(b));
      const vb::Binary &from = *original.weights()->Get(b);
      const vb::Binary &to = *copy.weights()->Get(b);
      EXPECT_EQ(to.type(), from.type());
      EXPECT_EQ(Name(to.name()), Name(from.name()));
      testing::ExpectSameBinaryAttrs(from, to);
    }
    const auto &from = *original.weights()->Get(b)->headers();
    const auto &to = *copy.weights()->Get(b)->headers();
    ASSERT_EQ(to.size(), from.size()) << "binary " << b;
    for (uint32_t h = 0; h < from.size(); ++h) {
      SCOPED_TRACE("binary " + std::to_string(b) + " header " + std::to_string(h));
      EXPECT_EQ(to.Get(h)->size(), from.Get(h)->size());
      EXPECT_EQ(to.Get(h)->hash(), from.Get(h)->hash());
      EXPECT_EQ(to.Get(h)->align(), from.Get(h)->align());
      EXPECT_EQ(Name(to.Get(h)->name()), Name(from.Get(h)->name()));
    }
  }
}

// Shared weights carry the marker; the kept ones are all raw_data holds, laid out by the alignment rule.
void CheckStrippedSubModel(const vt::Bytes &c_bytes, const vt::Bytes &s_bytes, const std::set<Key> &shared) {
  EXPECT_TRUE(PassesStrictCheck(s_bytes));
  const vb::Model &c = *ModelOf(c_bytes);
  const vb::Model &s = *ModelOf(s_bytes);
  ExpectSameHeaderFields(c, s);
  if (::testing::Test::HasFatalFailure()) return;
  vt::Bytes raw_layout;
  for (uint32_t b = 0; b < c.weights()->size(); ++b) {
    const vb::Binary &cb = *c.weights()->Get(b);
    const vb::Binary &sb = *s.weights()->Get(b);
    for (uint32_t h = 0; h < cb.headers()->size(); ++h) {
      const vb::BinaryHeader &ch = *cb.headers()->Get(h);
      const vb::BinaryHeader &sh = *sb.headers()->Get(h);
      SCOPED_TRACE("binary " + std::to_string(b) + " header " + std::to_string(h));
      if (ch.size() == 0) {
        EXPECT_EQ(sh.offset(), 0u);
      } else if (shared.contains({ch.hash(), ch.size()})) {
        EXPECT_EQ(sh.offset(), STRIPPED_WEIGHT_OFFSET_MARKER);
      } else {
        EXPECT_EQ(Copy(HeaderBytes(s, sb, sh)), Copy(HeaderBytes(c, cb, ch)));
        if (cb.type() == vb::BinaryType_RAW_OFFSET) {
          raw_layout.resize(vt::AlignedStart(raw_layout.size(), ch.align()), 0);
          const auto bytes = HeaderBytes(c, cb, ch);
          raw_layout.insert(raw_layout.end(), bytes.begin(), bytes.end());
        }
      }
    }
  }
  ASSERT_NE(s.raw_data(), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(s.raw_data()->begin(), s.raw_data()->end()), raw_layout);
}

void CheckRestoredSubModel(const vt::Bytes &c_bytes, const vt::Bytes &r_bytes) {
  EXPECT_TRUE(PassesStrictCheck(r_bytes));
  const vb::Model &c = *ModelOf(c_bytes);
  const vb::Model &r = *ModelOf(r_bytes);
  ExpectSameHeaderFields(c, r);
  if (::testing::Test::HasFatalFailure()) return;
  for (uint32_t b = 0; b < c.weights()->size(); ++b) {
    const vb::Binary &cb = *c.weights()->Get(b);
    const vb::Binary &rb = *r.weights()->Get(b);
    for (uint32_t h = 0; h < cb.headers()->size(); ++h) {
      const vb::BinaryHeader &ch = *cb.headers()->Get(h);
      const vb::BinaryHeader &rh = *rb.headers()->Get(h);
      SCOPED_TRACE("binary " + std::to_string(b) + " header " + std::to_string(h));
      if (ch.size() == 0) {
        EXPECT_EQ(rh.offset(), 0u);
      } else {
        EXPECT_EQ(HeaderBytes(r, rb, rh).size(), ch.size());
        EXPECT_EQ(Copy(HeaderBytes(r, rb, rh)), Copy(HeaderBytes(c, cb, ch)));
      }
    }
  }
  // Every byte of the weight data, the zero gaps included; a restored sub-model always has raw_data.
  const testing::RestoredLayout layout = testing::ExpectedRestoredLayout(c);
  for (uint32_t b = 0; b < c.weights()->size(); ++b) {
    const auto *data = r.weights()->Get(b)->data();
    EXPECT_EQ(data ? Copy({data->data(), data->size()}) : vt::Bytes(), layout.data[b]) << "data of binary " << b;
  }
  ASSERT_NE(r.raw_data(), nullptr);
  EXPECT_EQ(Copy({r.raw_data()->data(), static_cast<size_t>(r.raw_data()->size())}), layout.raw);
}

TEST(ContainerRoundTripTest, EverySubModelComesBackOverGeneratedContainers) {
  uint64_t stripped_headers = 0;
  for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const ContainerSet set = GenerateContainerSet(seed);
    ScratchDir dir;
    std::vector<std::string> sources;
    for (size_t i = 0; i < set.earlier.size(); ++i) {
      sources.push_back(dir.File("E" + std::to_string(i) + ".qdms"));
      vt::WriteFile(sources.back(), vt::BuildContainer(set.earlier[i]));
    }
    const vt::Bytes c_bytes = vt::BuildContainer(set.last);
    vt::WriteFile(dir.File("C.qdms"), c_bytes);
    const vb::Models &c = *ModelsOf(c_bytes);

    std::vector<std::string> strip_inputs = sources;
    strip_inputs.push_back(dir.File("C.qdms"));
    const testing::RunResult strip = testing::RunContainerStrip(strip_inputs, dir.File("S.qdms"));
    ASSERT_EQ(strip.status, 0) << strip.err;
    const vt::Bytes s_bytes = vt::ReadFile(dir.File("S.qdms"));
    const vb::Models &s = *ModelsOf(s_bytes);
    CheckContainerLayout(c, s);
    if (HasFatalFailure()) return;
    const std::set<Key> shared = SharedKeys(set.earlier);
    for (uint32_t i = 0; i < c.model_headers()->size(); ++i) {
      SCOPED_TRACE("stripped sub-model " + std::to_string(i));
      CheckStrippedSubModel(SubModelAt(c, i), SubModelAt(s, i), shared);
    }

    std::vector<std::string> restore_inputs = sources;
    restore_inputs.push_back(dir.File("S.qdms"));
    const testing::RunResult restore = testing::RunContainerRestore(restore_inputs, dir.File("R.qdms"));
    ASSERT_EQ(restore.status, 0) << restore.err;
    const vt::Bytes r_bytes = vt::ReadFile(dir.File("R.qdms"));
    const vb::Models &r = *ModelsOf(r_bytes);
    CheckContainerLayout(c, r);
    if (HasFatalFailure()) return;
    for (uint32_t i = 0; i < c.model_headers()->size(); ++i) {
      SCOPED_TRACE("restored sub-model " + std::to_string(i));
      CheckRestoredSubModel(SubModelAt(c, i), SubModelAt(r, i));
    }

    // The order of the sources plays no part.
    std::vector<std::string> reversed(sources.rbegin(), sources.rend());
    reversed.push_back(dir.File("S.qdms"));
    ASSERT_EQ(testing::RunContainerRestore(reversed, dir.File("R2.qdms")).status, 0);
    EXPECT_EQ(vt::ReadFile(dir.File("R2.qdms")), r_bytes);

    for (uint32_t i = 0; i < s.model_headers()->size(); ++i) {
      const vt::Bytes sub = SubModelAt(s, i);
      for (const vb::Binary *blob : *ModelOf(sub)->weights()) {
        for (const vb::BinaryHeader *h : *blob->headers()) stripped_headers += h->offset() == STRIPPED_WEIGHT_OFFSET_MARKER;
      }
    }
  }
  // The generator must actually exercise stripping.
  EXPECT_GT(stripped_headers, kSeeds);
}

vt::SubModelSpec SubModelOf(const vt::ModelSpec &model) {
  vt::SubModelSpec sub;
  sub.bytes = vt::BuildModel(model);
  return sub;
}

// A container C of two sub-models made of large embedded weights, beside a
// raw one, and an earlier container E whose one sub-model holds a weight of each.
struct EmbeddedWeightFiles {
  ScratchDir dir;
  std::string e = dir.File("E.qdms");
  std::string c = dir.File("C.qdms");
  std::string s = dir.File("S.qdms");
  std::string r = dir.File("R.qdms");

  EmbeddedWeightFiles() {
    std::vector<vt::ItemSpec> weights;
    for (uint8_t i = 0; i < 4; ++i) weights.push_back(vt::Weight("e" + std::to_string(i), 100 + i, 4 << 20, i));
    const auto sub_model = [](const std::string &name, std::vector<vt::ItemSpec> items) {
      vt::BinarySpec embedded;
      embedded.items = std::move(items);
      vt::ModelSpec model = vt::SimpleModel(name, {vt::Weight("r", 1, 64, 1)});
      model.weights.push_back(embedded);
      return SubModelOf(model);
    };
    vt::ContainerSpec earlier;
    earlier.models = {sub_model("earlier", {weights[0], weights[2]})};
    vt::ContainerSpec last;
    last.models = {sub_model("first", {weights[0], weights[1]}), sub_model("second", {weights[2], weights[3]})};
    vt::WriteFile(e, vt::BuildContainer(earlier));
    vt::WriteFile(c, vt::BuildContainer(last));
  }
};

// As for single models: containers of large embedded weights strip and
// restore, stripped or not, under a limit their output fills to 80 %. The
// second sub-model is built after the first in the same memory.
TEST(ContainerRoundTripTest, EmbeddedWeightsWithinTheAllocationLimit) {
  const EmbeddedWeightFiles f;
  testing::RunResult r = testing::RunUnderATightLimit([&] { return testing::RunContainerStrip({f.e, f.c}, f.s); }, f.s);
  ASSERT_EQ(r.status, 0) << r.err;
  r = testing::RunUnderATightLimit([&] { return testing::RunContainerRestore({f.e, f.s}, f.r); }, f.r);
  EXPECT_EQ(r.status, 0) << r.err;
  r = testing::RunUnderATightLimit([&] { return testing::RunContainerRestore({f.e, f.c}, f.r); }, f.r);
  EXPECT_EQ(r.status, 0) << r.err;
}

// The same runs under a limit just below what they write are refused with
// the out-of-memory line, and write nothing.
TEST(ContainerRoundTripTest, EmbeddedWeightsBeyondTheAllocationLimit) {
  const EmbeddedWeightFiles f;
  ASSERT_EQ(testing::RunContainerStrip({f.e, f.c}, f.s).status, 0);
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return testing::RunContainerStrip({f.e, f.c}, f.r); }, f.r));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return testing::RunContainerRestore({f.e, f.s}, f.r); }, f.r));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return testing::RunContainerRestore({f.e, f.c}, f.r); }, f.r));
}

// A sub-model whose two embedded Binaries share one data vector, as for
// single models: the runs count the bytes each Binary gets of its own, under
// a limit their output fills to 80 % and just below it, and every header's
// bytes come back.
TEST(ContainerRoundTripTest, BinariesSharingOneDataVector) {
  ScratchDir dir;
  const testing::ModelSet set = testing::SharedDataModelSet();
  vt::ContainerSpec earlier_container;
  earlier_container.models = {SubModelOf(set.earlier[0])};
  vt::ContainerSpec last_container;
  last_container.models = {SubModelOf(set.last)};
  const vt::Bytes c_bytes = last_container.models[0].bytes;
  ASSERT_EQ(ModelOf(c_bytes)->weights()->Get(1)->data(), ModelOf(c_bytes)->weights()->Get(2)->data());
  const std::string e = dir.File("E.qdms");
  const std::string c = dir.File("C.qdms");
  const std::string s = dir.File("S.qdms");
  const std::string restored = dir.File("R.qdms");
  vt::WriteFile(e, vt::BuildContainer(earlier_container));
  vt::WriteFile(c, vt::BuildContainer(last_container));

  testing::RunResult r = testing::RunUnderATightLimit([&] { return testing::RunContainerStrip({e, c}, s); }, s);
  ASSERT_EQ(r.status, 0) << r.err;
  CheckStrippedSubModel(c_bytes, SubModelAt(*ModelsOf(vt::ReadFile(s)), 0), SharedKeys({earlier_container}));
  r = testing::RunUnderATightLimit([&] { return testing::RunContainerRestore({e, s}, restored); }, restored);
  ASSERT_EQ(r.status, 0) << r.err;
  CheckRestoredSubModel(c_bytes, SubModelAt(*ModelsOf(vt::ReadFile(restored)), 0));
  r = testing::RunUnderATightLimit([&] { return testing::RunContainerRestore({e, c}, restored); }, restored);
  ASSERT_EQ(r.status, 0) << r.err;
  CheckRestoredSubModel(c_bytes, SubModelAt(*ModelsOf(vt::ReadFile(restored)), 0));

  const std::string out = dir.File("out.qdms");
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return testing::RunContainerStrip({e, c}, out); }, out));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return testing::RunContainerRestore({e, s}, out); }, out));
  EXPECT_TRUE(testing::RefusedBelowItsOutput([&] { return testing::RunContainerRestore({e, c}, out); }, out));
}

}  // namespace
}  // namespace vadu::qdmstrip
