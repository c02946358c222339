#include "container_runs.h"

#include "restore_qdms_weight.h"
#include "strip_qdms_weight.h"
#include "test_support.h"

namespace vadu::qdmstrip::testing {
namespace {

template <typename Run>
RunResult Captured(Run run) {
  CapturedStreams streams;
  RunResult r;
  r.status = run();
  streams.Take();
  r.out = streams.out();
  r.err = streams.err();
  return r;
}

}  // namespace

RunResult RunContainerStrip(const std::vector<std::string> &inputs, const std::string &output) {
  return Captured([&] { return StripQdmsRun(inputs, output); });
}

RunResult RunContainerRestore(const std::vector<std::string> &inputs, const std::string &output) {
  return Captured([&] { return RestoreQdmsRun(inputs, output); });
}

vadu::testing::Bytes SubModelAt(const binary::Models &container, uint32_t index) {
  const binary::BinaryHeader &header = *container.model_headers()->Get(index);
  const uint8_t *start = container.model_data()->data() + header.offset();
  return vadu::testing::Bytes(start, start + header.size());
}

}  // namespace vadu::qdmstrip::testing
