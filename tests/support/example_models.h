// Example models for the demo and the command-line tests.
#pragma once

#include <filesystem>
#include <vector>

#include "model_factory.h"

namespace vadu::testing {

// Writes A.qdm, B.qdm, C.qdm (sharing weights) and A.qdms, B.qdms, C.qdms into
// `dir` and returns their paths.
std::vector<std::filesystem::path> WriteExampleModels(const std::filesystem::path &dir);

}  // namespace vadu::testing
