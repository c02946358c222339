#include "tool_dispatch.h"

#include "output_guard.h"
#include "path_suffix.h"
#include "restore_qdms_weight.h"
#include "restore_weight.h"
#include "strip_qdms_weight.h"
#include "strip_weight.h"

namespace vadu::qdmstrip {

int RunTool(const ToolOptions &options) {
  if (!CheckOutputIsNotAnInput(options.output, options.inputs)) return 1;
  if (EndsWithIgnoreCase(options.inputs.back(), kModelSuffix)) {
    return options.strip ? StripWeightRun(options.inputs, options.output)
                         : RestoreWeightRun(options.inputs, options.output);
  }
  return options.strip ? StripQdmsRun(options.inputs, options.output)
                       : RestoreQdmsRun(options.inputs, options.output);
}

}  // namespace vadu::qdmstrip
