// qdmstrip's loading and checking of inputs: the single-model check with and
// without the strict stage (dumping on), both loaders on the bytes as a file,
// and the check of a container about to be written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "vadu_mmap.h"
#include "weight_tool_base.h"

using vadu::qdmstrip::WeightToolBase;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  vadu::fuzz::QuietProcess();
  vadu::fuzz::ScratchDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const vadu::fuzz::PageAlignedCopy bytes(data, size);
  const std::string dump = (vadu::fuzz::ScratchDir() / "dump.bin").string();
  WeightToolBase::VerifyQdmModel(bytes.data(), bytes.size(), false, false, "");
  WeightToolBase::VerifyQdmModel(bytes.data(), bytes.size(), true, true, dump);

  const std::string path = (vadu::fuzz::ScratchDir() / "input.bin").string();
  vadu::fuzz::WriteBytes(path, data, size);
  {
    vadu::ReadOnlyMMapFile file;
    WeightToolBase::LoadModelFromFile(file, path);
  }
  {
    vadu::ReadOnlyMMapFile file;
    WeightToolBase::LoadModelsFromFile(file, path);
  }
  WeightToolBase::VerifyQdmsModel(bytes.data(), bytes.size(), path);
  return 0;
}
