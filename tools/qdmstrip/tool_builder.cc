#include "tool_builder.h"

namespace vadu::qdmstrip {

ToolBuilder MakeToolBuilder() { return MakeToolBuilder(nullptr); }

ToolBuilder MakeToolBuilder(flatbuffers::Allocator *allocator) {
  ToolBuilder builder(kBuilderInitialSize, allocator);
  builder.ForceDefaults(true);
  builder.DedupVtables(false);
  return builder;
}

}  // namespace vadu::qdmstrip
