// Running the container strip and restore in-process with captured streams,
// and reading sub-models back out of a written container.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model_factory.h"
#include "qdms_generated.h"
#include "strip_restore_runs.h"

namespace vadu::qdmstrip::testing {

RunResult RunContainerStrip(const std::vector<std::string> &inputs, const std::string &output);
RunResult RunContainerRestore(const std::vector<std::string> &inputs, const std::string &output);

// A copy of sub-model `index` of a container, as its header describes it.
vadu::testing::Bytes SubModelAt(const binary::Models &container, uint32_t index);

}  // namespace vadu::qdmstrip::testing
