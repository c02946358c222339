#include "strip_restore_runs.h"

#include "restore_weight.h"
#include "strip_weight.h"
#include "test_support.h"
#include "unchanged_files.h"
#include "weight_tool_base.h"

namespace vadu::qdmstrip::testing {

namespace {

// Whatever a run does, it must leave its inputs as they were.
vadu::testing::UnchangedFiles GuardInputs(const std::vector<std::string> &inputs) {
  return vadu::testing::UnchangedFiles({inputs.begin(), inputs.end()});
}

}  // namespace

RunResult RunStrip(const std::vector<std::string> &inputs, const std::string &output) {
  const vadu::testing::UnchangedFiles guard = GuardInputs(inputs);
  CapturedStreams streams;
  RunResult r;
  r.status = StripWeightRun(inputs, output);
  streams.Take();
  guard.ExpectUnchanged();
  r.out = streams.out();
  r.err = streams.err();
  return r;
}

RunResult RunRestore(const std::vector<std::string> &inputs, const std::string &output) {
  const vadu::testing::UnchangedFiles guard = GuardInputs(inputs);
  CapturedStreams streams;
  RunResult r;
  r.status = RestoreWeightRun(inputs, output);
  streams.Take();
  guard.ExpectUnchanged();
  r.out = streams.out();
  r.err = streams.err();
  return r;
}

std::span<const uint8_t> HeaderBytes(const binary::Model &model, const binary::Binary &blob,
                                     const binary::BinaryHeader &header) {
  const uint8_t *base = nullptr;
  uint64_t length = 0;
  if (blob.type() == binary::BinaryType_RAW_OFFSET) {
    if (model.raw_data() == nullptr) return {};
    base = model.raw_data()->data();
    length = model.raw_data()->size();
  } else {
    if (blob.data() == nullptr) return {};
    base = blob.data()->data();
    length = blob.data()->size();
  }
  if (header.offset() > length || header.size() > length - header.offset()) return {};
  return {base + header.offset(), static_cast<size_t>(header.size())};
}

bool PassesStrictCheck(const vadu::testing::Bytes &model) {
  CapturedStreams quiet;
  return WeightToolBase::VerifyQdmModel(model.data(), model.size(), true, false, "");
}

}  // namespace vadu::qdmstrip::testing
