// Strip mode for containers: every sub-model of the last container is
// rebuilt with the weights stripped whose keys occur in some sub-model of
// every earlier container (the stripped-weight convention of the single-model
// strip), and a new container is written around the rebuilt sub-models with
// the last container's graph copied. Each sub-model and the container are
// built in builders of their own; the tool's builder is not used.
#pragma once

#include <string>
#include <vector>

#include "container_blob.h"
#include "qdms_generated.h"
#include "weight_key.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {

// Runs one job of this mode; returns the process exit code (0 success, 1 failure).
int StripQdmsRun(const std::vector<std::string> &inputs, const std::string &output);

class StripQdmsTool : public WeightToolBase {
 public:
  int Run(const std::vector<std::string> &inputs, const std::string &output);

  // Adds the key of every weight header with a non-zero size of every
  // sub-model of `container` (read from the file at `path`). Each sub-model
  // is located and checked before it is read; one that fails ends with a
  // line naming `path` and its index. False, without a line, for a null
  // root or a container without model_headers or model_data.
  static bool CollectQdmsWeightKeys(const binary::Models *container, WeightKeySet &keys, const std::string &path);

  // The keys of the first input.
  bool InitSharedWeightsQdms(const std::vector<std::string> &inputs, WeightKeySet &shared);
  // Narrows `shared` by inputs 1 ... n-2, mapping one at a time.
  bool IntersectSharedWeightsQdms(const std::vector<std::string> &inputs, WeightKeySet &shared);

  // Rebuilds one sub-model with the weights of `shared` stripped and the
  // kept ones repacked in `builder` (fresh, with the settings of
  // MakeToolBuilder), which holds the finished, checked buffer on success.
  static bool RebuildSubModel(const binary::Model *sub_model, const WeightKeySet &shared, ToolBuilder &builder);
};

}  // namespace vadu::qdmstrip
