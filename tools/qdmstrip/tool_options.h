// Command line of qdmstrip: one mode, one output, two or more inputs of one kind.
#pragma once

#include <string>
#include <vector>

namespace vadu::qdmstrip {

struct ToolOptions {
  bool strip = false;
  bool restore = false;
  std::string output;
  std::vector<std::string> inputs;
};

// Writes the usage text to standard error.
void PrintToolUsage();

// Fills `options` from the command line and checks it. Returns false after
// printing what was wrong (or only the usage text, for "-h"/"--help" and for
// an empty command line).
bool ParseAndValidateToolArgs(int argc, const char *const *argv, ToolOptions &options);

}  // namespace vadu::qdmstrip
