#pragma once

#include <string>
#include <vector>

namespace vadu::qdmstrip {

// Runs one job of this mode; returns the process exit code (0 success, 1 failure).
int RestoreQdmsRun(const std::vector<std::string> &inputs, const std::string &output);

}  // namespace vadu::qdmstrip
