// Restore jobs with one fuzzed model among valid ones of its kind (the
// container identifier chooses the kind): as the stripped model whose weights
// are put back from valid sources, and as a source for a valid stripped model.
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
  vadu::fuzz::RunRestore({valid.a, valid.b, fuzzed});
  vadu::fuzz::RunRestore({fuzzed, valid.stripped});
  vadu::fuzz::RunRestore({valid.a, fuzzed, valid.stripped});
  return 0;
}
