#include "strip_restore_runs.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "lowered_allocation_limit.h"
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

RunResult RunUnderATightLimit(const std::function<RunResult()> &run, const std::string &output) {
  const RunResult free = run();
  if (free.status != 0) return free;
  const uint64_t size = std::filesystem::file_size(output);
  std::filesystem::remove(output);
  const LoweredAllocationLimit limit(size / 4 * 5);
  const RunResult limited = run();
  if (limited.status == 0) {
    EXPECT_EQ(std::filesystem::file_size(output), size);
  }
  return limited;
}

::testing::AssertionResult RefusedBelowItsOutput(const std::function<RunResult()> &run, const std::string &output) {
  const RunResult free = run();
  if (free.status != 0) return ::testing::AssertionFailure() << "the run without a lowered limit failed:\n" << free.err;
  const uint64_t size = std::filesystem::file_size(output);
  std::filesystem::remove(output);
  const LoweredAllocationLimit limit(size - 1);
  const RunResult limited = run();
  const std::string prefix = "[ERROR] Out of memory: cannot allocate ";
  const size_t line = limited.err.rfind(prefix);
  const bool refused = limited.status == 1 && line != std::string::npos &&
                       limited.err.find(" bytes for ", line) != std::string::npos &&
                       limited.err.find('\n', line) == limited.err.size() - 1;
  if (!refused) {
    const size_t tail = limited.err.size() > 400 ? limited.err.size() - 400 : 0;
    return ::testing::AssertionFailure() << "exit code " << limited.status << " under a limit of " << size - 1
                                         << " bytes; standard error ends:\n" << limited.err.substr(tail);
  }
  if (std::filesystem::exists(output)) return ::testing::AssertionFailure() << "the refused run wrote " << output;
  return ::testing::AssertionSuccess();
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

void ExpectSameBinaryAttrs(const binary::Binary &original, const binary::Binary &copy) {
  ASSERT_EQ(copy.attrs() == nullptr, original.attrs() == nullptr);
  if (original.attrs() == nullptr) return;
  ASSERT_EQ(copy.attrs()->size(), original.attrs()->size());
  for (uint32_t i = 0; i < original.attrs()->size(); ++i) {
    SCOPED_TRACE("attribute " + std::to_string(i));
    const binary::Attribute &from = *original.attrs()->Get(i);
    const binary::Attribute &to = *copy.attrs()->Get(i);
    EXPECT_EQ(Text(to.name()), Text(from.name()));
    ASSERT_EQ(to.value_type(), from.value_type());
    if (from.value_type() == binary::AttrValue_str) {
      EXPECT_EQ(Text(to.value_as_str()), Text(from.value_as_str()));
    }
    if (from.value_type() != binary::AttrValue_AttrByte) continue;
    const binary::AttrByte &x = *from.value_as_AttrByte();
    const binary::AttrByte &y = *to.value_as_AttrByte();
    EXPECT_EQ(Values(y.data()), Values(x.data()));
    ASSERT_NE(y.dtype(), nullptr);
    EXPECT_EQ(y.dtype()->code(), x.dtype()->code());
    EXPECT_EQ(y.dtype()->bits(), x.dtype()->bits());
    EXPECT_EQ(y.dtype()->lanes(), x.dtype()->lanes());
  }
}

bool PassesStrictCheck(const vadu::testing::Bytes &model) {
  CapturedStreams quiet;
  return WeightToolBase::VerifyQdmModel(model.data(), model.size(), true, false, "");
}

RestoredLayout ExpectedRestoredLayout(const binary::Model &original) {
  using Key = std::pair<uint64_t, uint64_t>;
  const auto append = [](vadu::testing::Bytes &layout, std::span<const uint8_t> bytes, uint32_t align) {
    layout.resize(vadu::testing::AlignedStart(layout.size(), align), 0);
    layout.insert(layout.end(), bytes.begin(), bytes.end());
  };
  RestoredLayout layout;
  if (original.weights() == nullptr) return layout;
  std::map<Key, uint32_t> aligns;
  for (const binary::Binary *blob : *original.weights()) {
    if (blob->headers() == nullptr) continue;
    for (const binary::BinaryHeader *h : *blob->headers()) {
      uint32_t &a = aligns[{h->hash(), h->size()}];
      a = std::max(a, h->align());
    }
  }
  std::set<Key> placed;
  for (const binary::Binary *blob : *original.weights()) {
    vadu::testing::Bytes &data = layout.data.emplace_back();
    if (blob->headers() == nullptr) continue;
    const bool raw = blob->type() == binary::BinaryType_RAW_OFFSET;
    for (const binary::BinaryHeader *h : *blob->headers()) {
      const Key key{h->hash(), h->size()};
      if (key.second == 0) continue;
      if (!raw) {
        append(data, HeaderBytes(original, *blob, *h), h->align());
      } else if (placed.insert(key).second) {
        append(layout.raw, HeaderBytes(original, *blob, *h), aligns[key]);
      }
    }
  }
  return layout;
}

}  // namespace vadu::qdmstrip::testing
