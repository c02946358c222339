// Running the single-model strip and restore in-process with captured
// streams, and reading a weight's bytes back from a model.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// Runs `run`, which writes `output`, once as it is, then again under an
// allocation limit that the first run's output fills to 80 %. Returns the
// second run's result; the output it wrote is left in place.
RunResult RunUnderATightLimit(const std::function<RunResult()> &run, const std::string &output);

// Runs `run`, which writes `output`, once as it is, then again under an
// allocation limit one byte below the size of what it wrote: a run must hold
// its whole output at once, so it has to be refused. Succeeds when that run
// failed with exit code 1, ended standard error with the out-of-memory line
// and wrote no output.
::testing::AssertionResult RefusedBelowItsOutput(const std::function<RunResult()> &run, const std::string &output);

// The bytes a header addresses (raw_data for RAW_OFFSET, the Binary's data
// otherwise); empty when the range is not inside the vector.
std::span<const uint8_t> HeaderBytes(const binary::Model &model, const binary::Binary &blob,
                                     const binary::BinaryHeader &header);

// Expects the copy of a Binary to carry the original's attributes field by
// field: the list present or absent alike, each name, value type, string, and
// AttrByte data and dtype.
void ExpectSameBinaryAttrs(const binary::Binary &original, const binary::Binary &copy);

// The strict check the tools apply before writing, without its lines.
bool PassesStrictCheck(const vadu::testing::Bytes &model);

// The weight data a restore of `original` writes, every byte of it: raw_data
// with each distinct key of the RAW_OFFSET headers once, in the order keys
// first occur, at the largest alignment any header gives the key; the data of
// each other Binary with every header's bytes at the header's own alignment;
// zero bytes between (alignment 0 counts as 64). The bytes are the original's.
struct RestoredLayout {
  vadu::testing::Bytes raw;
  std::vector<vadu::testing::Bytes> data;  // per weight Binary; empty for RAW_OFFSET ones
};
RestoredLayout ExpectedRestoredLayout(const binary::Model &original);

}  // namespace vadu::qdmstrip::testing
