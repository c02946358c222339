// Hands validated options to the run function of their mode and kind.
#pragma once

#include "tool_options.h"

namespace vadu::qdmstrip {

// Returns the exit code of the chosen run function, or 1 when the output
// would overwrite an input.
int RunTool(const ToolOptions &options);

}  // namespace vadu::qdmstrip
