// StripQdmsTool::RebuildSubModel: one sub-model of the last container with
// its shared weights stripped, built in a builder of its own.
#include <iostream>

#include "allocation_failure.h"
#include "builder_space.h"
#include "header_identity.h"
#include "kept_weight_repack.h"
#include "progress_bar.h"
#include "strip_qdms_weight.h"
#include "stripped_weight_marker.h"
#include "sub_model_finish.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;

void PrintRepackFailure(RepackFailure failure) {
  switch (failure) {
    case RepackFailure::kRawOutOfRange:
      std::cerr << "[ERROR] RAW header out of raw_data\n";
      break;
    case RepackFailure::kDataOutOfRange:
      std::cerr << "[ERROR] Non-RAW header out of data\n";
      break;
    case RepackFailure::kRawMismatch:
      std::cerr << "[ERROR] copy mismatch (raw)\n";
      break;
    case RepackFailure::kDataMismatch:
      std::cerr << "[ERROR] copy mismatch (embed)\n";
      break;
    case RepackFailure::kNone:
      break;
  }
}

fb::Offset<vb::BinaryHeader> WriteHeader(ToolBuilder &b, const RepackHeader &r, uint64_t offset) {
  fb::Offset<fb::String> name = r.name.empty() ? 0 : b.CreateString(r.name);
  return vb::CreateBinaryHeader(b, r.size, offset, r.hash, r.align, name);
}

uint64_t BuilderReserve(const vb::Model &sub_model, const KeptLayout &layout) {
  uint64_t total = SaturatingAdd(layout.raw_length, EstimateCopiedTables(sub_model));
  for (uint64_t length : layout.data_lengths) total = SaturatingAdd(total, length);
  return total;
}

// The rebuilt weight Binaries: every header in place, kept ones at their new
// offsets, shared ones with the marker. Null entries never occur; false after
// printing a header that matches no record.
bool RebuildBinaries(ToolBuilder &b, const WeightCollection &collection,
                     const std::vector<std::vector<uint8_t>> &new_data, OffsetList<vb::Binary> &binaries) {
  const FirstRecordIndex shared_index(collection.shared_headers);
  for (size_t j = 0; j < collection.binaries.size(); ++j) {
    const vb::Binary &blob = *collection.binaries[j];
    const FirstRecordIndex kept_index(collection.kept_headers[j]);
    OffsetList<vb::BinaryHeader> headers;
    if (blob.headers() != nullptr) {
      for (const vb::BinaryHeader *header : *blob.headers()) {
        const HeaderIdentity id = IdentityOf(*header);
        if (const RepackHeader *kept = kept_index.Find(id)) {
          headers.push_back(WriteHeader(b, *kept, kept->new_offset));
        } else if (const RepackHeader *stripped = shared_index.Find(id)) {
          headers.push_back(WriteHeader(b, *stripped, STRIPPED_WEIGHT_OFFSET_MARKER));
        } else {
          std::cerr << "[ERROR] Unhandled weight header in Binary[" << j << "]: " << "hash=" << id.hash
                    << " size=" << id.size << " name=" << (header->name() != nullptr ? id.name : "null") << "\n";
          return false;
        }
      }
    }
    fb::Offset<fb::Vector<uint8_t>> data = 0;
    if (!collection.is_raw_offset[j] && !new_data[j].empty()) data = b.CreateVector(new_data[j]);
    // An empty headers vector stays: without it the strict check would refuse the Binary.
    const auto header_vector = blob.headers() == nullptr ? 0 : b.CreateVector(headers);
    fb::Offset<fb::Vector<fb::Offset<vb::Attribute>>> attr_vector = 0;
    if (!collection.binary_attrs[j].empty()) {
      attr_vector = b.CreateVector(TableCopy::CollectBinaryAttrs(b, collection.binary_attrs[j]));
    }
    const std::string &name = collection.binary_names[j];
    const auto name_string = name.empty() ? 0 : b.CreateString(name);
    const vb::BinaryType type = j < collection.binary_types.size() ? collection.binary_types[j]
                                                                   : vb::BinaryType_RAW_OFFSET;
    binaries.push_back(vb::CreateBinary(b, data, header_vector, type, name_string, attr_vector));
  }
  return true;
}

}  // namespace

bool StripQdmsTool::RebuildSubModel(const vb::Model *sub_model, const WeightKeySet &shared, ToolBuilder &b) {
  if (sub_model == nullptr) return false;
  WeightCollection collection;
  if (!GatherWeightMetadata(sub_model, shared, collection)) {
    std::cerr << "[ERROR] Failed to gather weight metadata for sub-model\n";
    return false;
  }
  if (sub_model->raw_data() == nullptr) {
    std::cerr << "[ERROR] sub-model has no raw_data\n";
    return false;
  }

  const uint64_t kept_count = collection.non_shared_count;
  const RepackProgress progress = [kept_count](uint64_t done) { ShowProgressBar("Sub RAW Scan", done, kept_count); };
  // Every kept range is checked before the layout sizes anything: a corrupt
  // header size must fail here, not in an allocation of that size. The scan
  // then runs without copying, so that its bars come out as far as the bad header.
  if (!FindKeptOutOfRange(*sub_model, collection).ok()) {
    const std::vector<std::span<uint8_t>> no_targets(collection.binaries.size());
    PrintRepackFailure(CopyKeptWeights(*sub_model, collection, {}, no_targets, progress).failure);
    return false;
  }

  // The kept bytes go straight into the new raw_data, the first object of the builder.
  const KeptLayout layout = PlanKeptLayout(collection);
  ReserveBuilderSpace(b, BuilderReserve(*sub_model, layout));
  const InPlaceBytes64 raw = CreateUnfilledVector64(b, layout.raw_length);
  std::vector<std::vector<uint8_t>> new_data;
  std::vector<std::span<uint8_t>> data_targets;
  new_data.reserve(layout.data_lengths.size());
  for (uint64_t length : layout.data_lengths) data_targets.emplace_back(new_data.emplace_back(length, 0));
  const RepackResult repacked = CopyKeptWeights(*sub_model, collection, raw.bytes, data_targets, progress);
  if (!repacked.ok()) {
    PrintRepackFailure(repacked.failure);
    return false;
  }

  const auto version = CopyModelVersion(b, *sub_model);
  OffsetList<vb::Binary> binaries;
  if (!RebuildBinaries(b, collection, new_data, binaries)) return false;
  FinishSubModel(b, *sub_model, raw.offset, version, binaries);

  if (!VerifyQdmModel(b.GetBufferPointer(), b.GetSize(), true, true, "")) {
    std::cerr << "[ERROR] Sub-model verification failed (with strict check)\n";
    return false;
  }
  return true;
}

}  // namespace vadu::qdmstrip
