#include "strip_weight.h"

#include <cstdio>
#include <iostream>

#include "allocation_failure.h"
#include "builder_space.h"
#include "header_identity.h"
#include "kept_weight_repack.h"
#include "mapped_pages.h"
#include "progress_bar.h"
#include "stripped_weight_marker.h"
#include "vadu_mmap.h"

namespace vadu::qdmstrip {
namespace {

namespace vb = ::vadu::binary;
namespace fb = ::flatbuffers;

// Loads one earlier input for its keys; prints the refusal when it is not usable.
const vb::Model *LoadEarlierModel(ReadOnlyMMapFile &file, const std::string &path) {
  const vb::Model *model = WeightToolBase::LoadModelFromFile(file, path);
  if (model == nullptr || model->weights() == nullptr) {
    std::cerr << "[ERROR] Invalid model: " << path << "\n";
    return nullptr;
  }
  return model;
}

void PrintRepackFailure(const RepackResult &result) {
  const RepackHeader &h = *result.header;
  switch (result.failure) {
    case RepackFailure::kRawOutOfRange:
      std::cerr << "[ERROR] Header range out of raw_data bounds\n";
      break;
    case RepackFailure::kDataOutOfRange:
      std::cerr << "[ERROR] Header range out of data bounds\n";
      break;
    case RepackFailure::kRawMismatch:
    case RepackFailure::kDataMismatch:
      std::cerr << "[ERROR] Data mismatch after copy! header=" << h.name << " offset=" << h.offset
                << " size=" << h.size << std::endl;
      break;
    case RepackFailure::kNone:
      break;
  }
}

fb::Offset<vb::BinaryHeader> WriteHeader(ToolBuilder &b, const RepackHeader &r, uint64_t offset) {
  auto name = b.CreateString(r.name);
  return vb::CreateBinaryHeader(b, r.size, offset, r.hash, r.align, name);
}

fb::Offset<vb::BinaryHeader> CopyHeader(ToolBuilder &b, const vb::BinaryHeader &h) {
  fb::Offset<fb::String> name = 0;
  if (h.name() != nullptr) name = b.CreateString(h.name()->c_str(), h.name()->size());
  return vb::CreateBinaryHeader(b, h.size(), h.offset(), h.hash(), h.align(), name);
}

}  // namespace

int StripWeightRun(const std::vector<std::string> &inputs, const std::string &output) {
  return RunReportingAllocationFailure([&] {
    StripWeightTool tool;
    return tool.Run(inputs, output);
  });
}

int StripWeightTool::Run(const std::vector<std::string> &inputs, const std::string &output) {
  if (inputs.size() < 2) {
    std::cerr << "[ERROR] Need at least 2 input models (one or more previous models and the last model).\n";
    return 1;
  }
  const uint64_t earlier_count = inputs.size() - 1;

  WeightKeySet shared;
  {
    ReadOnlyMMapFile first_file;
    const vb::Model *first = LoadEarlierModel(first_file, inputs[0]);
    if (first == nullptr) return 1;
    AddWeightKeys(*first, shared);
    ShowProgressBar("Init Models", 1, earlier_count);
    std::cout << "[INFO] Initial shared weights count: " << shared.size() << "\n";
  }
  if (!IntersectSharedWeights(inputs, shared)) return 1;

  ReadOnlyMMapFile last_file;
  const vb::Model *last = LoadModelFromFile(last_file, inputs.back());
  if (last == nullptr) return 1;
  ReadAheadForCopying(last_file);
  std::cout << "[INFO] Rebuilding model & shrinking data...\n";

  WeightCollection collection;
  if (!GatherWeightMetadata(last, shared, collection)) {
    std::cerr << "[ERROR] Failed to collect weight headers from source model\n";
    return 1;
  }
  weights_ = std::move(collection);
  model_ = last;
  model_file_size_ = last_file.size();
  new_binary_data_.assign(weights_.binaries.size(), {});

  const RawDataOffset raw_data = ReconstructRawData();
  if (raw_data.IsNull()) return 1;
  const OffsetList<vb::Binary> binaries = ReconstructWeights();

  std::cout << "[INFO] Creating Model...\n";
  PrintStats(*model_, new_raw_size_, weights_.total_count, weights_.shared_headers);

  if (!BuildWriteVerify(*model_, binaries, raw_data, output)) {
    std::cerr << "[ERROR] Failed to build/write/verify model to: " << output << "\n";
    return 1;
  }
  return 0;
}

bool StripWeightTool::IntersectSharedWeights(const std::vector<std::string> &inputs, WeightKeySet &shared) {
  if (inputs.size() >= 3) {
    const uint64_t earlier_count = inputs.size() - 1;
    for (size_t i = 1; i + 1 < inputs.size(); ++i) {
      ReadOnlyMMapFile file;
      const vb::Model *model = LoadEarlierModel(file, inputs[i]);
      if (model == nullptr) return false;
      WeightKeySet keys;
      AddWeightKeys(*model, keys);
      std::cout << "[INFO] Model[" << i << "] weights size: " << keys.size() << "\n";
      KeepCommonKeys(shared, keys);
      ShowProgressBar("Record share", i, earlier_count);
    }
  }
  if (shared.empty()) std::cout << "[INFO] No shared weights found, just copy last model.\n";
  std::cerr << "[INFO] Total shared weights to strip: " << shared.size() << "\n";
  return true;
}

RawDataOffset StripWeightTool::ReconstructRawData() {
  if (model_->raw_data() == nullptr) {
    std::cerr << "[ERROR] Last model has no raw_data, cannot strip by rebuilding." << "\n";
    return 0;
  }
  const uint64_t kept_count = weights_.non_shared_count;
  const RepackProgress progress = [kept_count](uint64_t done) {
    ShowProgressBar("Non-Shared Weight Raw Scan", done, kept_count);
  };
  // Every kept range is checked before the layout sizes anything: a corrupt
  // header size must fail here, not in an allocation of that size. The scan
  // then runs without copying, so that its bars come out as far as the bad header.
  if (!FindKeptOutOfRange(*model_, weights_).ok()) {
    const std::vector<std::span<uint8_t>> no_targets(weights_.binaries.size());
    PrintRepackFailure(CopyKeptWeights(*model_, weights_, {}, no_targets, progress));
    return 0;
  }
  const KeptLayout layout = PlanKeptLayout(weights_);
  uint64_t data_total = 0;
  for (uint64_t length : layout.data_lengths) data_total = SaturatingAdd(data_total, length);
  // Room for the whole new model, so that the builder never copies the raw data while it grows.
  // Reserved before the data vectors are made, so that a layout too large for memory fails first.
  ReserveBuilderSpace(builder_, SaturatingAdd(SaturatingAdd(layout.raw_length, data_total),
                                              CopiedTablesRoom(*model_, model_file_size_)));
  for (size_t b = 0; b < layout.data_lengths.size(); ++b) new_binary_data_[b].assign(layout.data_lengths[b], 0);

  const InPlaceBytes64 raw = CreateUnfilledVector64(builder_, layout.raw_length);
  std::vector<std::span<uint8_t>> data;
  for (std::vector<uint8_t> &bytes : new_binary_data_) data.emplace_back(bytes);
  const RepackResult result = CopyKeptWeights(*model_, weights_, raw.bytes, data, progress);
  if (!result.ok()) {
    PrintRepackFailure(result);
    return 0;
  }
  new_raw_size_ = layout.raw_length;
  return raw.offset;
}

OffsetList<vb::Binary> StripWeightTool::ReconstructWeights() {
  ToolBuilder &b = builder_;
  const FirstRecordIndex shared_index(weights_.shared_headers);
  OffsetList<vb::Binary> result;
  for (size_t i = 0; i < weights_.binaries.size(); ++i) {
    const vb::Binary &blob = *weights_.binaries[i];
    const FirstRecordIndex kept_index(weights_.kept_headers[i]);
    OffsetList<vb::BinaryHeader> headers;
    if (blob.headers() != nullptr) {
      for (const vb::BinaryHeader *header : *blob.headers()) {
        const HeaderIdentity id = IdentityOf(*header);
        if (const RepackHeader *kept = kept_index.Find(id)) {
          headers.push_back(WriteHeader(b, *kept, kept->new_offset));
        } else if (const RepackHeader *stripped = shared_index.Find(id)) {
          headers.push_back(WriteHeader(b, *stripped, STRIPPED_WEIGHT_OFFSET_MARKER));
        } else {
          headers.push_back(CopyHeader(b, *header));
        }
      }
    }
    fb::Offset<fb::Vector<uint8_t>> data = 0;
    if (!weights_.is_raw_offset[i] && !new_binary_data_[i].empty()) data = b.CreateVector(new_binary_data_[i]);
    const OffsetList<vb::Attribute> attrs = CollectBinaryAttrs(b, weights_.binary_attrs[i]);
    // An empty headers vector stays: without it the strict check would refuse the Binary.
    auto header_vector = blob.headers() == nullptr ? 0 : b.CreateVector(headers);
    auto attr_vector = attrs.empty() ? 0 : b.CreateVector(attrs);
    auto name = weights_.binary_names[i].empty() ? 0 : b.CreateString(weights_.binary_names[i]);
    result.push_back(vb::CreateBinary(b, data, header_vector, weights_.binary_types[i], name, attr_vector));
  }
  return result;
}

void StripWeightTool::PrintStats(const vb::Model &model, uint64_t new_raw_size, uint64_t total_count,
                                 const std::vector<RepackHeader> &shared_headers) {
  const uint64_t shared = shared_headers.size();
  const double percent = total_count == 0 ? 0.0 : static_cast<double>(shared) / static_cast<double>(total_count) * 100;
  char percent_text[64];
  std::snprintf(percent_text, sizeof percent_text, "%.2f", percent);
  std::cout << "Shared Headers: " << shared << "/" << total_count << " (" << percent_text << "% )\n";
  if (model.raw_data() != nullptr) {
    const uint64_t original = model.raw_data()->size();
    const uint64_t saved = new_raw_size < original ? original - new_raw_size : 0;
    std::cout << "Original raw_data bytes: " << original << " -> New raw_data bytes: " << new_raw_size << " (Saved "
              << saved << " bytes)\n";
  }
}

}  // namespace vadu::qdmstrip
