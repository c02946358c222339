// Running the single-model strip and restore in-process with captured
// streams, and reading a weight's bytes back from a model.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model_factory.h"
#include "qdm_generated.h"

namespace vadu::qdmstrip::testing {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

RunResult RunStrip(const std::vector<std::string> &inputs, const std::string &output);
RunResult RunRestore(const std::vector<std::string> &inputs, const std::string &output);

// The bytes a header addresses (raw_data for RAW_OFFSET, the Binary's data
// otherwise); empty when the range is not inside the vector.
std::span<const uint8_t> HeaderBytes(const binary::Model &model, const binary::Binary &blob,
                                     const binary::BinaryHeader &header);

// The strict check the tools apply before writing, without its lines.
bool PassesStrictCheck(const vadu::testing::Bytes &model);

}  // namespace vadu::qdmstrip::testing
