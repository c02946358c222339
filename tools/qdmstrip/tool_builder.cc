#include "tool_builder.h"

namespace vadu::qdmstrip {

ToolBuilder MakeToolBuilder() {
  ToolBuilder builder(kBuilderInitialSize);
  builder.ForceDefaults(true);
  builder.DedupVtables(false);
  return builder;
}

}  // namespace vadu::qdmstrip
