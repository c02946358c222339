#include "tool_dispatch.h"
#include "tool_options.h"

int main(int argc, char **argv) {
  vadu::qdmstrip::ToolOptions options;
  if (!vadu::qdmstrip::ParseAndValidateToolArgs(argc, argv, options)) return 1;
  return vadu::qdmstrip::RunTool(options);
}
