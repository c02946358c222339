#include "container_runs.h"

#include "restore_qdms_weight.h"
#include "strip_qdms_weight.h"
#include "test_support.h"
#include "unchanged_files.h"

namespace vadu::qdmstrip::testing {
namespace {

// Whatever the run does, it must leave its inputs as they were.
template <typename Run>
RunResult Captured(const std::vector<std::string> &inputs, Run run) {
  const vadu::testing::UnchangedFiles guard({inputs.begin(), inputs.end()});
  CapturedStreams streams;
  RunResult r;
  r.status = run();
  streams.Take();
  guard.ExpectUnchanged();
  r.out = streams.out();
  r.err = streams.err();
  return r;
}

}  // namespace

RunResult RunContainerStrip(const std::vector<std::string> &inputs, const std::string &output) {
  return Captured(inputs, [&] { return StripQdmsRun(inputs, output); });
}

RunResult RunContainerRestore(const std::vector<std::string> &inputs, const std::string &output) {
  return Captured(inputs, [&] { return RestoreQdmsRun(inputs, output); });
}

vadu::testing::Bytes SubModelAt(const binary::Models &container, uint32_t index) {
  const binary::BinaryHeader &header = *container.model_headers()->Get(index);
  const uint8_t *start = container.model_data()->data() + header.offset();
  return vadu::testing::Bytes(start, start + header.size());
}

}  // namespace vadu::qdmstrip::testing
