// Restore mode for single models: the inputs are source models followed by a
// stripped model; the output is the stripped model with every stripped weight
// given its bytes back from a source that holds a weight with the same key.
// Every header keeps its place, size, hash, alignment and name; the raw data
// and the data of embedded Binaries are rebuilt from scratch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdm_generated.h"
#include "weight_data_info.h"
#include "weight_key.h"
#include "weight_tool_base.h"

namespace vadu {
class ReadOnlyMMapFile;
}

namespace vadu::qdmstrip {

// Runs one job of this mode; returns the process exit code (0 success, 1 failure).
int RestoreWeightRun(const std::vector<std::string> &inputs, const std::string &output);

class RestoreWeightTool : public WeightToolBase {
 public:
  using WeightDataInfo = qdmstrip::WeightDataInfo;

  int Run(const std::vector<std::string> &inputs, const std::string &output);

  // Maps and checks every source into `files` (one per path, which must stay
  // mapped while `collected` is used) and collects the weights whose keys are
  // in `needed` (every weight when `needed` is empty). The first source that
  // provides a key wins; a later one with other bytes for it is a collision.
  bool CollectSourceWeights(const std::vector<std::string> &paths, std::vector<ReadOnlyMMapFile> &files,
                            const WeightKeySet &needed, WeightDataMap &collected);

  // Writes the new raw data (first) and the rebuilt weight Binaries into the
  // builder. `raw_data` stays null when no RAW_OFFSET weight has bytes.
  bool RestoreWeights(const binary::Model &model, const WeightDataMap &collected,
                      OffsetList<binary::Binary> &weights, RawDataOffset &raw_data);

 private:
  uint64_t stripped_file_size_ = 0;  // sizes the builder up front
};

}  // namespace vadu::qdmstrip
