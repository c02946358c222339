// RestoreQdmsTool::RestoreSubModel: one stripped sub-model rebuilt with its
// weights' bytes put back, in a builder of its own. Each distinct raw key is
// placed once, at an alignment that suits every RAW_OFFSET header with the key.
#include <iostream>
#include <span>
#include <unordered_map>

#include "builder_space.h"
#include "embedded_data.h"
#include "key_alignments.h"
#include "mapped_pages.h"
#include "restore_qdms_weight.h"
#include "stripped_weight_marker.h"
#include "sub_model_finish.h"
#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;

using OffsetMap = std::unordered_map<WeightKey, uint64_t, WeightKeyHash>;

const char *NameOrUnknown(const vb::BinaryHeader &header) {
  return header.name() != nullptr ? header.name()->c_str() : "unknown";
}

// The alignment each key's raw copy is placed at, from every header with the
// key in any Binary, size-0 headers included.
KeyAlignments AnalyseAlignments(const vb::Model &model) {
  KeyAlignments aligns;
  for (const vb::Binary *blob : *model.weights()) {
    if (blob->headers() == nullptr) continue;
    for (const vb::BinaryHeader *header : *blob->headers()) aligns.Add(*blob, *header);
  }
  return aligns;
}

// The collected bytes of `key`, or else the header's own bytes in the model;
// nothing when neither has them.
std::span<const uint8_t> WeightSource(const WeightDataMap &collected, const vb::Model &model, const vb::Binary &blob,
                                      const vb::BinaryHeader &header, bool &found) {
  const auto entry = collected.find(KeyOf(header));
  if (entry != collected.end() && entry->second.HasBytes()) {
    found = true;
    return entry->second.Bytes();
  }
  const WeightBytes own = LocateWeightBytes(model, blob, header);
  found = own.found;
  return own.bytes;
}

// Where each distinct raw key goes in the new raw data, and its bytes.
struct RawPlan {
  struct Copy {
    uint64_t offset = 0;
    std::span<const uint8_t> bytes;
  };
  OffsetMap offsets;
  std::vector<Copy> copies;
  uint64_t length = 0;
};

bool PlanRawData(const vb::Model &model, const WeightDataMap &collected, const KeyAlignments &aligns, RawPlan &plan) {
  for (const vb::Binary *blob : *model.weights()) {
    if (!IsRawOffset(*blob) || blob->headers() == nullptr) continue;
    for (const vb::BinaryHeader *header : *blob->headers()) {
      const WeightKey key = KeyOf(*header);
      if (key.size == 0 || plan.offsets.contains(key)) continue;
      bool found = false;
      const std::span<const uint8_t> bytes = WeightSource(collected, model, *blob, *header, found);
      if (!found) {
        std::cerr << "[ERROR] Missing weight data for: " << NameOrUnknown(*header) << " (hash=" << key.hash
                  << ", size=" << key.size << ")\n";
        return false;
      }
      const uint64_t start = AlignedPosition(plan.length, aligns.Of(key));
      plan.offsets.emplace(key, start);
      plan.copies.push_back({start, bytes});
      plan.length = SaturatingAdd(start, key.size);
    }
  }
  return true;
}

// Room for the embedded data the rebuild can write. A header whose bytes are
// nowhere fails the rebuild, so its size (which may be corrupt) does not count.
uint64_t EmbeddedBound(const vb::Model &model, const WeightDataMap &collected) {
  uint64_t bound = 0;
  for (const vb::Binary *blob : *model.weights()) {
    if (IsRawOffset(*blob) || blob->headers() == nullptr) continue;
    for (const vb::BinaryHeader *header : *blob->headers()) {
      bool found = false;
      WeightSource(collected, model, *blob, *header, found);
      if (header->size() != 0 && found) {
        bound = SaturatingAdd(bound, SaturatingAdd(header->size(), header->align() == 0 ? 64 : header->align()));
      }
    }
  }
  return bound;
}

// One weight Binary with new offsets: raw headers point at their key's one
// copy, embedded ones get their bytes appended to the Binary's new data.
bool RebuildBinary(ToolBuilder &b, const vb::Model &model, const vb::Binary &blob, const WeightDataMap &collected,
                   const OffsetMap &raw_offsets, fb::Offset<vb::Binary> &rebuilt) {
  EmbeddedData data;
  OffsetList<vb::BinaryHeader> headers;
  if (blob.headers() != nullptr) {
    for (const vb::BinaryHeader *header : *blob.headers()) {
      const WeightKey key = KeyOf(*header);
      uint64_t new_offset = 0;
      if (key.size == 0) {
        new_offset = 0;
      } else if (IsRawOffset(blob)) {
        const auto placed = raw_offsets.find(key);
        if (placed == raw_offsets.end()) {
          std::cerr << "[ERROR] Missing raw offset for key(hash=" << key.hash << ")\n";
          if (header->offset() == STRIPPED_WEIGHT_OFFSET_MARKER) {
            std::cerr << "[ERROR] This weight was stripped and needs to be restored from source models\n";
          }
          return false;
        }
        new_offset = placed->second;
      } else {
        bool found = false;
        const std::span<const uint8_t> bytes = WeightSource(collected, model, blob, *header, found);
        if (!found) {
          std::cerr << "[ERROR] Missing embedded weight data for: " << NameOrUnknown(*header) << "\n";
          return false;
        }
        new_offset = data.Append(bytes, header->align());
      }
      fb::Offset<fb::String> name = 0;
      if (header->name() != nullptr) name = b.CreateString(header->name()->c_str(), header->name()->size());
      headers.push_back(vb::CreateBinaryHeader(b, key.size, new_offset, key.hash, header->align(), name));
    }
  }
  const auto data_vector = data.CreateIn(b, ReleaseCopiedPages);
  // An empty headers vector stays: without it the strict check would refuse the Binary.
  const auto header_vector = blob.headers() == nullptr ? 0 : b.CreateVector(headers);
  OffsetList<vb::Attribute> attrs;
  if (blob.attrs() != nullptr) {
    for (const vb::Attribute *attr : *blob.attrs()) {
      const auto copy = TableCopy::CollectAttribute(b, attr);
      if (!copy.IsNull()) attrs.push_back(copy);
    }
  }
  const auto attr_vector = attrs.empty() ? 0 : b.CreateVector(attrs);
  fb::Offset<fb::String> name = 0;
  if (blob.name() != nullptr) name = b.CreateString(blob.name()->c_str(), blob.name()->size());
  rebuilt = vb::CreateBinary(b, data_vector, header_vector, blob.type(), name, attr_vector);
  return true;
}

}  // namespace

bool RestoreQdmsTool::RestoreSubModel(const vb::Model *stripped, const WeightDataMap &collected, ToolBuilder &b) {
  if (stripped == nullptr) {
    std::cerr << "[ERROR] stripped_sub is null\n";
    return false;
  }
  if (stripped->weights() == nullptr) {
    std::cerr << "[ERROR] stripped_sub has no weights field\n";
    return false;
  }
  const vb::Model &model = *stripped;
  const KeyAlignments aligns = AnalyseAlignments(model);
  RawPlan plan;
  if (!PlanRawData(model, collected, aligns, plan)) return false;

  ReserveBuilderSpace(
      b, SaturatingAdd(SaturatingAdd(plan.length, EmbeddedBound(model, collected)), EstimateCopiedTables(model)));
  const InPlaceBytes64 raw = CreateUnfilledVector64(b, plan.length);
  // The copies are in placement order, so the writer also zeroes the alignment gaps.
  GapZeroingWriter writer(raw.bytes);
  for (const RawPlan::Copy &copy : plan.copies) {
    writer.Put(copy.offset, copy.bytes);
    ReleaseCopiedPages(copy.bytes);  // left alone unless they are pages of the stripped container
  }
  writer.Finish();
  const auto version = CopyModelVersion(b, model);
  OffsetList<vb::Binary> binaries;
  for (const vb::Binary *blob : *model.weights()) {
    fb::Offset<vb::Binary> rebuilt;
    if (!RebuildBinary(b, model, *blob, collected, plan.offsets, rebuilt)) return false;
    binaries.push_back(rebuilt);
  }
  FinishSubModel(b, model, raw.offset, version, binaries);

  if (!VerifyQdmModel(b.GetBufferPointer(), b.GetSize(), true, true, "")) {
    std::cerr << "[ERROR] Restored sub-model verification failed\n";
    return false;
  }
  return true;
}

}  // namespace vadu::qdmstrip
