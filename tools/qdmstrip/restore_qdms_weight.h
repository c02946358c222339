// Restore mode for containers: the inputs are source containers followed by
// a stripped container. The bytes of every weight of every source sub-model
// are copied into memory, one source mapped at a time; every sub-model of the
// stripped container is then rebuilt with its weight bytes put back, and a
// new container is written around them with the stripped one's graph copied.
#pragma once

#include <string>
#include <vector>

#include "container_blob.h"
#include "qdms_generated.h"
#include "weight_data_info.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip {

// Runs one job of this mode; returns the process exit code (0 success, 1 failure).
int RestoreQdmsRun(const std::vector<std::string> &inputs, const std::string &output);

class RestoreQdmsTool : public WeightToolBase {
 public:
  int Run(const std::vector<std::string> &inputs, const std::string &output);

  // Copies the bytes of every weight of every sub-model of every source into
  // `collected`. The first source that provides a key wins; a later one with
  // other bytes for it is a collision. False after printing why.
  static bool CollectSourceWeightsQdms(const std::vector<std::string> &paths, WeightDataMap &collected);

  // Rebuilds one stripped sub-model with its weights' bytes put back (from
  // `collected` where a key is there, from the sub-model itself otherwise)
  // in `builder` (fresh, with the settings of MakeToolBuilder), which holds
  // the finished buffer once it passed the strict check. Silent on success.
  static bool RestoreSubModel(const binary::Model *stripped, const WeightDataMap &collected, ToolBuilder &builder);
};

}  // namespace vadu::qdmstrip
