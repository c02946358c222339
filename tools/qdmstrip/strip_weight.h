// Strip mode for single models: writes a copy of the last input in which the
// weights that every earlier input holds are stripped. A stripped header keeps
// its place, size, hash, alignment and name, and carries
// STRIPPED_WEIGHT_OFFSET_MARKER as its offset; its bytes leave the model. The
// kept weights are repacked from offset 0 by the raw-data alignment rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdm_generated.h"
#include "weight_collection.h"
#include "weight_key.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {

// Runs one job of this mode; returns the process exit code (0 success, 1 failure).
int StripWeightRun(const std::vector<std::string> &inputs, const std::string &output);

class StripWeightTool : public WeightToolBase {
 public:
  using WeightCollection = qdmstrip::WeightCollection;

  int Run(const std::vector<std::string> &inputs, const std::string &output);

  // Narrows `shared` by inputs 1 ... n-2, mapping one at a time. False when
  // one of them does not load or has no `weights`.
  bool IntersectSharedWeights(const std::vector<std::string> &inputs, WeightKeySet &shared);

  static bool GatherWeightMetadata(const binary::Model *model, const WeightKeySet &shared,
                                   WeightCollection &collection) {
    return qdmstrip::GatherWeightMetadata(model, shared, collection);
  }

  // Creates the new raw_data (the first object of the builder) and the new
  // data of every embedded Binary. Null after printing why it failed.
  RawDataOffset ReconstructRawData();

  // One rebuilt Binary per Binary of the last model, in order.
  OffsetList<binary::Binary> ReconstructWeights();

  static void PrintStats(const binary::Model &model, uint64_t new_raw_size, uint64_t total_count,
                         const std::vector<RepackHeader> &shared_headers);

 private:
  WeightCollection weights_;
  std::vector<std::vector<uint8_t>> new_binary_data_;
  uint64_t new_raw_size_ = 0;
  const binary::Model *model_ = nullptr;
  uint64_t model_file_size_ = 0;  // sizes the builder up front
};

}  // namespace vadu::qdmstrip
