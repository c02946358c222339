// Repacking of the kept weights of one model by the raw-data alignment rule:
// the kept headers of all RAW_OFFSET Binaries share one new raw-data layout,
// Binary after Binary; every other Binary gets a new data layout of its own.
// Each kept weight is placed at the next multiple of its alignment (64 when
// 0), gaps zero-filled; a size-0 header gets offset 0 and no bytes.
// Duplicated kept weights are placed once per header.
//
// Planning and copying are separate so that a caller can size its target
// (for example a vector inside a builder) before any byte is copied.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "qdm_generated.h"
#include "weight_collection.h"

namespace vadu::qdmstrip {

struct KeptLayout {
  uint64_t raw_length = 0;
  std::vector<uint64_t> data_lengths;  // per Binary; 0 for RAW_OFFSET ones
};

// Sets `new_offset` of every kept header and returns the lengths it implies.
KeptLayout PlanKeptLayout(WeightCollection &collection);

enum class RepackFailure {
  kNone,
  kRawOutOfRange,   // a kept RAW_OFFSET header reaches outside raw_data (or there is none)
  kDataOutOfRange,  // a kept embedded header reaches outside its Binary's data, or there is none
  kRawMismatch,     // copied bytes differ from their source
  kDataMismatch,
};

struct RepackResult {
  RepackFailure failure = RepackFailure::kNone;
  const RepackHeader *header = nullptr;  // the header that failed
  bool ok() const { return failure == RepackFailure::kNone; }
};

// The first kept header whose source range does not fit, in the order
// CopyKeptWeights takes them; ok() when all fit. Run before the plan's lengths
// are allocated, since a corrupt header size would otherwise size them.
RepackResult FindKeptOutOfRange(const binary::Model &model, const WeightCollection &collection);

// Told the number of kept headers done: after every kept header of a
// RAW_OFFSET Binary, and once after each other Binary.
using RepackProgress = std::function<void(uint64_t done)>;

// Copies every kept weight of `model` to the place PlanKeptLayout gave it:
// RAW_OFFSET ones into `raw`, the others into `data[b]` of their Binary b.
// Targets must be as long as the plan says; they need not be zero-filled, as
// the gaps are zeroed (a target is complete once the copy succeeded). With
// empty targets only the ranges are checked, with the same progress. Stops at
// the first header whose source range does not fit or whose copy differs.
RepackResult CopyKeptWeights(const binary::Model &model, const WeightCollection &collection,
                             std::span<uint8_t> raw, const std::vector<std::span<uint8_t>> &data,
                             const RepackProgress &progress);

}  // namespace vadu::qdmstrip
