#include "kept_weight_repack.h"

#include <cstring>

#include "weight_bytes.h"

namespace vadu::qdmstrip {
namespace {

// Places the non-empty headers one after another from `length` on.
void PlaceHeaders(std::vector<RepackHeader> &headers, uint64_t &length) {
  for (RepackHeader &h : headers) {
    if (h.size == 0) {
      h.new_offset = 0;
      continue;
    }
    h.new_offset = AlignedPosition(length, h.align);
    length = h.new_offset + h.size;
  }
}

std::span<const uint8_t> WholeVector(const flatbuffers::Vector64<uint8_t> *v) {
  if (v == nullptr) return {};
  return {v->data(), static_cast<size_t>(v->size())};
}

std::span<const uint8_t> WholeVector(const flatbuffers::Vector<uint8_t> *v) {
  if (v == nullptr) return {};
  return {v->data(), v->size()};
}

// Copies one header's bytes from `source` into `target` at its new offset.
RepackFailure CopyOne(const RepackHeader &h, bool source_present, std::span<const uint8_t> source,
                      std::span<uint8_t> target, RepackFailure out_of_range, RepackFailure mismatch) {
  if (!source_present || !RangeFits(h.offset, h.size, source.size())) return out_of_range;
  uint8_t *to = target.data() + h.new_offset;
  const uint8_t *from = source.data() + h.offset;
  std::memcpy(to, from, h.size);
  if (std::memcmp(to, from, h.size) != 0) return mismatch;
  return RepackFailure::kNone;
}

}  // namespace

KeptLayout PlanKeptLayout(WeightCollection &collection) {
  KeptLayout layout;
  layout.data_lengths.assign(collection.kept_headers.size(), 0);
  for (size_t b = 0; b < collection.kept_headers.size(); ++b) {
    if (collection.is_raw_offset[b]) {
      PlaceHeaders(collection.kept_headers[b], layout.raw_length);
    } else {
      PlaceHeaders(collection.kept_headers[b], layout.data_lengths[b]);
    }
  }
  return layout;
}

RepackResult CopyKeptWeights(const binary::Model &model, const WeightCollection &collection,
                             std::span<uint8_t> raw, const std::vector<std::span<uint8_t>> &data,
                             const RepackProgress &progress) {
  const std::span<const uint8_t> raw_source = WholeVector(model.raw_data());
  uint64_t done = 0;
  for (size_t b = 0; b < collection.kept_headers.size(); ++b) {
    const bool raw_blob = collection.is_raw_offset[b];
    const binary::Binary *blob = collection.binaries[b];
    const bool source_present = raw_blob ? model.raw_data() != nullptr : blob->data() != nullptr;
    const std::span<const uint8_t> source = raw_blob ? raw_source : WholeVector(blob->data());
    for (const RepackHeader &h : collection.kept_headers[b]) {
      if (h.size != 0) {
        const RepackFailure failure =
            raw_blob ? CopyOne(h, source_present, source, raw, RepackFailure::kRawOutOfRange,
                               RepackFailure::kRawMismatch)
                     : CopyOne(h, source_present, source, data[b], RepackFailure::kDataOutOfRange,
                               RepackFailure::kDataMismatch);
        if (failure != RepackFailure::kNone) return {failure, &h};
      }
      ++done;
      if (raw_blob && progress) progress(done);
    }
    if (!raw_blob && progress) progress(done);
  }
  return {};
}

}  // namespace vadu::qdmstrip
