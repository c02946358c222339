// RestoreWeightTool::RestoreWeights: new raw data with each distinct key once,
// then every weight Binary rebuilt header by header.
#include <cstring>
#include <iostream>
#include <unordered_map>
#include <unordered_set>

#include "builder_space.h"
#include "embedded_data.h"
#include "key_alignments.h"
#include "mapped_pages.h"
#include "progress_bar.h"
#include "restore_weight.h"
#include "stripped_weight_marker.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;

using PlacementMap = std::unordered_map<WeightKey, uint64_t, WeightKeyHash>;

const char *NameOrUnknown(const vb::BinaryHeader &header) {
  return header.name() != nullptr ? header.name()->c_str() : "unknown";
}

// Calls `visit(blob, header)` for every header of every weight Binary that has headers.
template <typename Visit>
void ForEachHeader(const vb::Model &model, Visit visit) {
  for (const vb::Binary *blob : *model.weights()) {
    if (blob->headers() == nullptr) continue;
    for (const vb::BinaryHeader *header : *blob->headers()) visit(*blob, *header);
  }
}

// The same over the RAW_OFFSET Binaries only, which are where raw data is placed.
template <typename Visit>
void ForEachRawHeader(const vb::Model &model, Visit visit) {
  ForEachHeader(model, [&visit](const vb::Binary &blob, const vb::BinaryHeader &header) {
    if (IsRawOffset(blob)) visit(blob, header);
  });
}

// The alignment each key's raw copy is placed at, from every header with the
// key in any Binary, size-0 headers included.
KeyAlignments AnalyseAlignments(const vb::Model &model, uint64_t total) {
  KeyAlignments aligns;
  uint64_t k = 0;
  ForEachHeader(model, [&](const vb::Binary &blob, const vb::BinaryHeader &header) {
    ShowProgressBar("Analyse alignments", ++k, total);
    aligns.Add(blob, header);
  });
  return aligns;
}

// The collected bytes for `key` when there are any.
const WeightDataInfo *CollectedWithBytes(const WeightDataMap &collected, const WeightKey &key) {
  const auto it = collected.find(key);
  return it != collected.end() && it->second.HasBytes() ? &it->second : nullptr;
}

// The bytes an embedded header is rebuilt from. A key names one weight
// whatever Binary holds it, so any source may supply it; a source that held it
// embedded comes before the model's own bytes, a source that held it in raw
// data only after them.
WeightBytes EmbeddedWeightBytes(const vb::Model &model, const WeightDataMap &collected, const vb::Binary &blob,
                                const vb::BinaryHeader &header) {
  const WeightDataInfo *entry = CollectedWithBytes(collected, KeyOf(header));
  if (entry != nullptr && !entry->is_raw) return {true, entry->Bytes()};
  const WeightBytes own = LocateWeightBytes(model, blob, header);
  if (own.found || entry == nullptr) return own;
  return {true, entry->Bytes()};
}

// Whether a header's bytes can be had, from a source or from the model itself.
bool BytesAvailable(const vb::Model &model, const WeightDataMap &collected, const vb::Binary &blob,
                    const vb::BinaryHeader &header) {
  return CollectedWithBytes(collected, KeyOf(header)) != nullptr || LocateWeightBytes(model, blob, header).found;
}

struct RawPlan {
  PlacementMap offsets;  // where each distinct key's bytes start
  uint64_t length = 0;
  // False when some placed key has no bytes anywhere: the fill then fails,
  // and the length (which a corrupt header size may make huge) is not allocated.
  bool complete = true;
};

// Places each distinct key with a non-zero size once, in the order keys first
// occur among the RAW_OFFSET headers, at a multiple of the key's alignment.
RawPlan PlanRawData(const vb::Model &model, const KeyAlignments &aligns, const WeightDataMap &collected) {
  RawPlan plan;
  ForEachRawHeader(model, [&](const vb::Binary &blob, const vb::BinaryHeader &header) {
    const WeightKey key = KeyOf(header);
    if (key.size == 0 || plan.offsets.contains(key)) return;
    if (!BytesAvailable(model, collected, blob, header)) plan.complete = false;
    const uint64_t start = AlignedPosition(plan.length, aligns.Of(key));
    plan.offsets.emplace(key, start);
    plan.length = SaturatingAdd(start, key.size);
  });
  return plan;
}

// An upper bound of the embedded data the rebuild will write. A header
// without bytes anywhere fails the rebuild, so its size does not count.
uint64_t EmbeddedBound(const vb::Model &model, const WeightDataMap &collected) {
  uint64_t bound = 0;
  ForEachHeader(model, [&](const vb::Binary &blob, const vb::BinaryHeader &header) {
    if (IsRawOffset(blob) || header.size() == 0 || !BytesAvailable(model, collected, blob, header)) return;
    bound = SaturatingAdd(bound, SaturatingAdd(header.size(), header.align() == 0 ? 64 : header.align()));
  });
  return bound;
}

// Copies each placed key's bytes, from the sources where collected and from
// the stripped model itself otherwise, and zeroes the alignment gaps: `raw`
// need not be zero-filled. Counts the distinct keys in `unique`.
// With an empty `raw` (an incomplete plan) nothing is copied; the run goes as
// far as the first key without bytes and fails there.
bool FillRawData(const vb::Model &model, const WeightDataMap &collected, const RawPlan &plan, std::span<uint8_t> raw,
                 uint64_t total, uint64_t &unique) {
  // Keys are met in the order they were placed, so offsets only grow.
  GapZeroingWriter writer(raw);
  std::unordered_set<WeightKey, WeightKeyHash> filled;
  uint64_t counter = 0;
  bool ok = true;
  ForEachRawHeader(model, [&](const vb::Binary &blob, const vb::BinaryHeader &header) {
    if (!ok) return;
    ShowProgressBar("Build raw data", ++counter, total);
    const WeightKey key = KeyOf(header);
    if (key.size == 0 || filled.contains(key)) return;
    std::span<const uint8_t> bytes;
    if (const WeightDataInfo *entry = CollectedWithBytes(collected, key)) {
      bytes = entry->Bytes();
    } else {
      const WeightBytes own = LocateWeightBytes(model, blob, header);
      if (!own.found) {
        std::cerr << "\n[ERROR] Missing weight data for: " << NameOrUnknown(header) << " (hash=" << key.hash
                  << ", size=" << key.size << ")\n";
        ok = false;
        return;
      }
      bytes = own.bytes;
    }
    if (!raw.empty()) writer.Put(plan.offsets.at(key), bytes);
    ReleaseCopiedPages(bytes);
    filled.insert(key);
    ++unique;
  });
  if (ok && !raw.empty()) writer.Finish();
  return ok;
}

// Compares every placed key that came from a source with its source bytes.
bool RecheckRawData(const WeightDataMap &collected, const RawPlan &plan, std::span<const uint8_t> raw) {
  for (const auto &[key, offset] : plan.offsets) {
    const WeightDataInfo *entry = CollectedWithBytes(collected, key);
    if (entry == nullptr) continue;
    const auto bytes = entry->Bytes();
    if (!RangeFits(offset, bytes.size(), raw.size())) {
      std::cerr << "[ERROR] Internal: raw_data range error during verify\n";
      return false;
    }
    if (std::memcmp(raw.data() + offset, bytes.data(), bytes.size()) != 0) {
      std::cerr << "[ERROR] Internal: raw_data bytes mismatch after pack for key(hash=" << key.hash
                << ", size=" << key.size << ")\n";
      return false;
    }
    ReleaseCopiedPages(bytes);
  }
  return true;
}

}  // namespace

bool RestoreWeightTool::RestoreWeights(const vb::Model &model, const WeightDataMap &collected,
                                       OffsetList<vb::Binary> &weights, RawDataOffset &raw_data) {
  std::cout << "[INFO] Restoring weights...\n";
  if (model.weights() == nullptr) {
    std::cerr << "[ERROR] Stripped model has no weights field\n";
    return false;
  }
  uint64_t total = 0;
  ForEachHeader(model, [&total](const vb::Binary &, const vb::BinaryHeader &) { ++total; });
  const KeyAlignments aligns = AnalyseAlignments(model, total);

  std::cout << "[INFO] Building raw_data...\n";
  const RawPlan plan = PlanRawData(model, aligns, collected);
  InPlaceBytes64 raw{};
  if (plan.complete) {
    // Room for the whole restored model, so that the builder never copies the raw data while it grows.
    const uint64_t weight_bytes = SaturatingAdd(plan.length, EmbeddedBound(model, collected));
    ReserveBuilderSpace(builder_, SaturatingAdd(weight_bytes, CopiedTablesRoom(model, stripped_file_size_)));
    if (plan.length != 0) raw = CreateUnfilledVector64(builder_, plan.length);
  }
  uint64_t unique = 0;
  if (!FillRawData(model, collected, plan, raw.bytes, total, unique)) return false;
  if (!RecheckRawData(collected, plan, raw.bytes)) return false;
  raw_data = raw.offset;
  std::cout << "[INFO] Rebuilt raw_data: " << plan.length << " bytes, " << unique << " unique RAW entries restored\n";
  std::cout << "[INFO] Rebuilding binary headers...\n";

  ToolBuilder &b = builder_;
  uint64_t k = 0;
  for (const vb::Binary *blob : *model.weights()) {
    EmbeddedData data;
    OffsetList<vb::BinaryHeader> headers;
    if (blob->headers() != nullptr) {
      for (const vb::BinaryHeader *header : *blob->headers()) {
        ShowProgressBar("Rebuild headers", ++k, total);
        const WeightKey key = KeyOf(*header);
        uint64_t new_offset = 0;
        if (key.size == 0) {
          new_offset = 0;
        } else if (IsRawOffset(*blob)) {
          const auto placed = plan.offsets.find(key);
          if (placed == plan.offsets.end()) {
            std::cerr << "\n[ERROR] Missing raw offset for key(hash=" << key.hash << ")\n";
            if (header->offset() == STRIPPED_WEIGHT_OFFSET_MARKER) {
              std::cerr << "[ERROR] This weight was stripped and needs to be restored from source models\n";
            }
            return false;
          }
          new_offset = placed->second;
        } else {
          const WeightBytes bytes = EmbeddedWeightBytes(model, collected, *blob, *header);
          if (!bytes.found) {
            std::cerr << "\n[ERROR] Missing embedded weight data for: " << NameOrUnknown(*header) << "\n";
            return false;
          }
          new_offset = data.Append(bytes.bytes, header->align());
        }
        fb::Offset<fb::String> name = 0;
        if (header->name() != nullptr) name = b.CreateString(header->name()->c_str(), header->name()->size());
        headers.push_back(vb::CreateBinaryHeader(b, key.size, new_offset, key.hash, header->align(), name));
      }
    }
    auto data_vector = data.CreateIn(b, ReleaseCopiedPages);
    // An empty headers vector stays: without it the strict check would refuse the Binary.
    auto header_vector = blob->headers() == nullptr ? 0 : b.CreateVector(headers);
    std::vector<const vb::Attribute *> attr_sources;
    if (blob->attrs() != nullptr) attr_sources.assign(blob->attrs()->begin(), blob->attrs()->end());
    const OffsetList<vb::Attribute> attrs = CollectBinaryAttrs(b, attr_sources);
    auto attr_vector = attrs.empty() ? 0 : b.CreateVector(attrs);
    fb::Offset<fb::String> name = 0;
    if (blob->name() != nullptr) name = b.CreateString(blob->name()->c_str(), blob->name()->size());
    weights.push_back(vb::CreateBinary(b, data_vector, header_vector, blob->type(), name, attr_vector));
  }
  std::cout << "[INFO] Restored " << k << "/" << total << " headers\n";
  return true;
}

}  // namespace vadu::qdmstrip
