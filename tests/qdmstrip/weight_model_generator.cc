#include "weight_model_generator.h"

#include <random>
#include <set>
#include <string>
#include <utility>

namespace vadu::qdmstrip::testing {
namespace {

namespace vt = ::vadu::testing;

constexpr int32_t kEmbedded = 0;
constexpr int32_t kUndefinedType = 1;  // addresses the blob's own data, like EMBEDDED
constexpr int32_t kRawOffset = 3;

struct PoolWeight {
  uint64_t hash = 0;
  bool has_hash = true;
  uint64_t size = 0;
  std::vector<uint32_t> aligns;  // each divides the next; 0 stands apart
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {
    std::set<std::pair<uint64_t, uint64_t>> keys;
    FillPool(raw_pool_, 10, 0, keys);
    FillPool(embedded_pool_, 6, 1, keys);
  }

  ModelSet Make() {
    ModelSet set;
    const std::vector<bool> all_raw(raw_pool_.size(), true);
    const std::vector<bool> all_embedded(embedded_pool_.size(), true);
    set.last = MakeModel("C", all_raw, all_embedded);
    set.last.force_raw_data = true;  // the strip needs raw_data
    const int earlier = Chance(50) ? 2 : 3;
    for (int i = 0; i < earlier; ++i) {
      vt::ModelSpec model = MakeModel("E" + std::to_string(i), Subset(raw_pool_.size()), Subset(embedded_pool_.size()));
      AddHeldWeights(model, Subset(raw_pool_.size()), Subset(embedded_pool_.size()));
      set.earlier.push_back(std::move(model));
    }
    return set;
  }

 private:
  uint64_t Below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(rng_); }
  bool Chance(int percent) { return Below(100) < static_cast<uint64_t>(percent); }

  // Keys without hash are told apart by size: even for raw weights, odd for embedded ones.
  void FillPool(std::vector<PoolWeight> &pool, int count, uint64_t parity, std::set<std::pair<uint64_t, uint64_t>> &keys) {
    static const std::vector<std::vector<uint32_t>> kAlignFamilies = {{0, 3, 48}, {0, 16, 48}, {0, 1, 8}};
    while (static_cast<int>(pool.size()) < count) {
      PoolWeight w;
      w.has_hash = !Chance(20);
      w.hash = w.has_hash ? rng_() : 0;
      w.size = 1 + Below(Chance(15) ? 300 : 90);
      if (!w.has_hash && w.size % 2 != parity) ++w.size;
      w.aligns = kAlignFamilies[Below(kAlignFamilies.size())];
      if (keys.insert({w.hash, w.size}).second) pool.push_back(w);
    }
  }

  // Gives the model every allowed weight at least once, mostly in a blob of
  // the weight's kind and at times in one of the other kind: a key names one
  // weight whatever Binary holds it, so a source may supply either kind.
  void AddHeldWeights(vt::ModelSpec &model, const std::vector<bool> &raw_held, const std::vector<bool> &embedded_held) {
    vt::BinarySpec raw_blob;
    raw_blob.type = kRawOffset;
    raw_blob.name = "held_raw";
    vt::BinarySpec embedded_blob;
    embedded_blob.type = kEmbedded;
    embedded_blob.name = "held_embedded";
    for (size_t i = 0; i < raw_pool_.size(); ++i) {
      if (raw_held[i]) (Chance(80) ? raw_blob : embedded_blob).items.push_back(PoolItem(raw_pool_[i]));
    }
    for (size_t i = 0; i < embedded_pool_.size(); ++i) {
      if (embedded_held[i]) (Chance(80) ? embedded_blob : raw_blob).items.push_back(PoolItem(embedded_pool_[i]));
    }
    for (vt::BinarySpec *blob : {&raw_blob, &embedded_blob}) {
      const auto at = static_cast<std::ptrdiff_t>(Below(model.weights.size() + 1));
      model.weights.insert(model.weights.begin() + at, std::move(*blob));
    }
  }

  std::vector<bool> Subset(size_t n) {
    std::vector<bool> allowed(n);
    for (size_t i = 0; i < n; ++i) allowed[i] = Chance(75);
    return allowed;
  }

  std::string Name() {
    static const char *kNames[] = {"", "a", "b", "weight", "w.bias"};
    return kNames[Below(5)];
  }

  vt::ItemSpec Item(const std::vector<PoolWeight> &pool, const std::vector<bool> &allowed) {
    vt::ItemSpec item;
    item.name = Name();
    std::vector<size_t> choices;
    for (size_t i = 0; i < pool.size(); ++i) {
      if (allowed[i]) choices.push_back(i);
    }
    if (choices.empty() || Chance(12)) {  // an empty item: never a key
      static const uint32_t kAligns[] = {0, 3, 16, 48};
      item.has_hash = Chance(50);
      item.hash = item.has_hash ? rng_() : 0;
      item.align = kAligns[Below(4)];
      return item;
    }
    vt::ItemSpec pooled = PoolItem(pool[choices[Below(choices.size())]]);
    pooled.name = item.name;
    return pooled;
  }

  vt::ItemSpec PoolItem(const PoolWeight &w) {
    vt::ItemSpec item;
    item.name = Name();
    item.hash = w.hash;
    item.has_hash = w.has_hash;
    item.align = w.aligns[Below(w.aligns.size())];
    item.bytes = KeyBytes(w.hash, w.size);
    return item;
  }

  vt::ModelSpec MakeModel(const std::string &name, const std::vector<bool> &raw_allowed,
                          const std::vector<bool> &embedded_allowed) {
    vt::ModelSpec spec;
    spec.name = name;
    const uint64_t blobs = 1 + Below(3);
    for (uint64_t b = 0; b < blobs; ++b) {
      vt::BinarySpec blob;
      const uint64_t kind = Below(100);
      blob.type = kind < 55 ? kRawOffset : kind < 85 ? kEmbedded : kUndefinedType;
      blob.name = Name();
      const bool raw = blob.type == kRawOffset;
      const uint64_t items = Below(7);
      for (uint64_t i = 0; i < items; ++i) {
        blob.items.push_back(raw ? Item(raw_pool_, raw_allowed) : Item(embedded_pool_, embedded_allowed));
      }
      if (Chance(20)) {
        vt::AttrSpec attr;
        attr.name = "layer";
        attr.text = "conv" + std::to_string(b);
        blob.attrs.push_back(attr);
      }
      if (Chance(20)) {
        vt::AttrSpec attr;
        attr.name = "scale";
        attr.kind = vt::AttrSpec::Kind::kBytes;
        attr.bytes = vt::Bytes(1 + Below(12), static_cast<uint8_t>(Below(256)));
        attr.bytes_dtype = vt::DataTypeSpec{static_cast<uint8_t>(Below(3)), 8, static_cast<int16_t>(1 + Below(4))};
        blob.attrs.push_back(attr);
      }
      spec.weights.push_back(std::move(blob));
    }
    // Trailing bytes no header covers: the strip drops them.
    if (Chance(30)) spec.extra_raw_tail = vt::Bytes(1 + Below(40), 0xEE);
    return spec;
  }

  std::mt19937_64 rng_;
  std::vector<PoolWeight> raw_pool_;
  std::vector<PoolWeight> embedded_pool_;
};

}  // namespace

vt::Bytes KeyBytes(uint64_t hash, uint64_t size) {
  vt::Bytes bytes(size);
  uint64_t x = hash ^ (size * 0x9E3779B97F4A7C15ull) ^ 0xD1B54A32D192ED03ull;
  for (auto &byte : bytes) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    byte = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

ModelSet GenerateModelSet(uint64_t seed) { return Generator(seed).Make(); }

ModelSet SharedDataModelSet() {
  std::vector<vt::ItemSpec> weights;
  for (uint8_t i = 0; i < 4; ++i) weights.push_back(vt::Weight("e" + std::to_string(i), 100 + i, 4 << 20, i));
  ModelSet set;
  vt::BinarySpec embedded;
  embedded.items = {weights[0], weights[1]};
  set.earlier.push_back(vt::SimpleModel("earlier", {}));
  set.earlier[0].weights.push_back(embedded);
  embedded.items = weights;
  set.last = vt::SimpleModel("last", {vt::Weight("r", 1, 64, 1)});
  set.last.weights.push_back(embedded);
  embedded.items = {weights[1], weights[3]};
  embedded.items[0].offset = 4 << 20;  // unaligned weights of 4 MiB lie one after another
  embedded.items[1].offset = 12 << 20;
  embedded.data_of = 1;
  set.last.weights.push_back(embedded);
  return set;
}

}  // namespace vadu::qdmstrip::testing
