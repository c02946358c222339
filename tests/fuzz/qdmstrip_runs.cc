#include "qdmstrip_runs.h"

#include <filesystem>

#include "allocation_failure.h"
#include "example_models.h"
#include "fuzz_support.h"
#include "path_suffix.h"
#include "tool_dispatch.h"
#include "tool_options.h"

namespace vadu::fuzz {
namespace {

namespace fs = std::filesystem;

// A job's builders and vectors may each take this much; scripts/fuzz allows 2 GiB in all.
constexpr uint64_t kJobAllocationLimit = uint64_t{128} << 20;

std::string Suffix(bool container) { return container ? ".qdms" : ".qdm"; }

int RunJob(bool strip, const std::vector<std::string> &inputs) {
  const bool container = !qdmstrip::EndsWithIgnoreCase(inputs.back(), qdmstrip::kModelSuffix);
  qdmstrip::ToolOptions options;
  options.strip = strip;
  options.restore = !strip;
  options.inputs = inputs;
  options.output = (ScratchDir() / ("output" + Suffix(container))).string();
  return qdmstrip::RunTool(options);
}

ValidModels WriteValidModels(bool container) {
  const fs::path dir = ScratchDir() / "valid";
  static const bool written = (vadu::testing::WriteExampleModels(dir), true);
  (void)written;
  const std::string suffix = Suffix(container);
  ValidModels models{(dir / ("A" + suffix)).string(), (dir / ("B" + suffix)).string(),
                     (dir / ("C" + suffix)).string(), (dir / ("stripped" + suffix)).string()};
  if (RunStrip({models.a, models.b, models.c}) != 0) {
    fs::copy_file(models.c, models.stripped, fs::copy_options::overwrite_existing);
  } else {
    fs::copy_file(ScratchDir() / ("output" + suffix), models.stripped, fs::copy_options::overwrite_existing);
  }
  return models;
}

}  // namespace

void LimitJobMemory() { qdmstrip::SetAllocationLimit(kJobAllocationLimit); }

const ValidModels &ValidModelsOfKind(bool container) {
  static const ValidModels single = WriteValidModels(false);
  static const ValidModels containers = WriteValidModels(true);
  return container ? containers : single;
}

std::string WriteFuzzedInput(const uint8_t *data, size_t size, bool container) {
  const fs::path path = ScratchDir() / ("fuzzed" + Suffix(container));
  WriteBytes(path, data, size);
  return path.string();
}

int RunStrip(const std::vector<std::string> &inputs) { return RunJob(true, inputs); }

int RunRestore(const std::vector<std::string> &inputs) { return RunJob(false, inputs); }

}  // namespace vadu::fuzz
