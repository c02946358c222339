// qdmstrip jobs on one fuzzed input among valid ones: the valid models are the
// example family, written once into the scratch directory, and every job runs
// through the same dispatch as the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vadu::fuzz {

// Example models of one kind: A, B and C share weights; `stripped` is C with
// the weights it shares with A and B stripped (C itself when that job fails).
struct ValidModels {
  std::string a;
  std::string b;
  std::string c;
  std::string stripped;
};

// The single-model or the container family; written on first use.
const ValidModels &ValidModelsOfKind(bool container);

// Writes the fuzzed bytes as an input of that kind (the suffix chooses the
// tool) and returns its path.
std::string WriteFuzzedInput(const uint8_t *data, size_t size, bool container);

// Lets no allocation of a job ask for more than a small fraction of the
// fuzzer's memory limit. A few bytes can legitimately ask for gigabytes (each
// large alignment may add that much padding); such a job then fails as it
// would on a machine that small, and that failure is fuzzed like any other.
void LimitJobMemory();

// One job with `inputs` (the last one's suffix chooses the kind) into an
// output of the same kind in the scratch directory. Returns the exit code.
int RunStrip(const std::vector<std::string> &inputs);
int RunRestore(const std::vector<std::string> &inputs);

}  // namespace vadu::fuzz
