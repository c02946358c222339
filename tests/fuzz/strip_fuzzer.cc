// Strip jobs with one fuzzed model among valid ones of its kind (the
// container identifier chooses the kind): as the last input, the model the
// shared weights are stripped from, and as an earlier input, whose weights
// only decide which keys are shared.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "qdmstrip_runs.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vadu::fuzz::QuietProcess();
  vadu::fuzz::LimitJobMemory();
  vadu::fuzz::ValidModelsOfKind(false);
  vadu::fuzz::ValidModelsOfKind(true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const bool container = vadu::fuzz::HasContainerIdentifier(data, size);
  const vadu::fuzz::ValidModels &valid = vadu::fuzz::ValidModelsOfKind(container);
  const std::string fuzzed = vadu::fuzz::WriteFuzzedInput(data, size, container);
  vadu::fuzz::RunStrip({valid.a, valid.b, fuzzed});
  vadu::fuzz::RunStrip({fuzzed, valid.c});
  vadu::fuzz::RunStrip({valid.a, fuzzed, valid.c});
  return 0;
}
