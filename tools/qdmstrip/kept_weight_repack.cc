#include "kept_weight_repack.h"

#include <cstring>

#include "builder_space.h"
#include "mapped_pages.h"
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
    length = SaturatingAdd(h.new_offset, h.size);
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

// Where the kept weights of Binary b come from: raw_data or the Binary's data.
struct WeightSource {
  bool raw_blob = false;
  bool present = false;
  std::span<const uint8_t> bytes;

  bool Fits(const RepackHeader &h) const { return present && RangeFits(h.offset, h.size, bytes.size()); }
  RepackFailure OutOfRange() const {
    return raw_blob ? RepackFailure::kRawOutOfRange : RepackFailure::kDataOutOfRange;
  }
};

WeightSource SourceOf(const binary::Model &model, const WeightCollection &collection, size_t b) {
  if (collection.is_raw_offset[b]) return {true, model.raw_data() != nullptr, WholeVector(model.raw_data())};
  const binary::Binary *blob = collection.binaries[b];
  return {false, blob->data() != nullptr, WholeVector(blob->data())};
}

// Copies one header's bytes from `source` into `target` at its new offset
// through `writer`, which zeroes the gap before it; an empty target only has
// the range checked.
RepackFailure CopyOne(const RepackHeader &h, bool source_present, std::span<const uint8_t> source,
                      std::span<uint8_t> target, GapZeroingWriter &writer, RepackFailure out_of_range,
                      RepackFailure mismatch) {
  if (!source_present || !RangeFits(h.offset, h.size, source.size())) return out_of_range;
  if (target.empty()) return RepackFailure::kNone;
  const uint8_t *from = source.data() + h.offset;
  writer.Put(h.new_offset, {from, static_cast<size_t>(h.size)});
  if (std::memcmp(target.data() + h.new_offset, from, h.size) != 0) return mismatch;
  ReleaseCopiedPages({from, static_cast<size_t>(h.size)});
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

RepackResult FindKeptOutOfRange(const binary::Model &model, const WeightCollection &collection) {
  for (size_t b = 0; b < collection.kept_headers.size(); ++b) {
    const WeightSource source = SourceOf(model, collection, b);
    for (const RepackHeader &h : collection.kept_headers[b]) {
      if (h.size != 0 && !source.Fits(h)) return {source.OutOfRange(), &h};
    }
  }
  return {};
}

RepackResult CopyKeptWeights(const binary::Model &model, const WeightCollection &collection,
                             std::span<uint8_t> raw, const std::vector<std::span<uint8_t>> &data,
                             const RepackProgress &progress) {
  uint64_t done = 0;
  // The plan places the headers of each target one after another, so they
  // are written in increasing order and every gap is zeroed on the way.
  GapZeroingWriter raw_writer(raw);
  for (size_t b = 0; b < collection.kept_headers.size(); ++b) {
    const WeightSource source = SourceOf(model, collection, b);
    const bool raw_blob = source.raw_blob;
    GapZeroingWriter data_writer(data[b]);
    for (const RepackHeader &h : collection.kept_headers[b]) {
      if (h.size != 0) {
        const RepackFailure failure =
            raw_blob ? CopyOne(h, source.present, source.bytes, raw, raw_writer, RepackFailure::kRawOutOfRange,
                               RepackFailure::kRawMismatch)
                     : CopyOne(h, source.present, source.bytes, data[b], data_writer,
                               RepackFailure::kDataOutOfRange, RepackFailure::kDataMismatch);
        if (failure != RepackFailure::kNone) return {failure, &h};
      }
      ++done;
      if (raw_blob && progress) progress(done);
    }
    if (!raw_blob) data_writer.Finish();
    if (!raw_blob && progress) progress(done);
  }
  raw_writer.Finish();
  return {};
}

}  // namespace vadu::qdmstrip
