// The mapped file's log lines and its pre-fetch thread, watched from a child
// process with the MMAP tag and info level switched on.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "test_files.h"

namespace vadu::testing {
namespace {

using Lines = std::vector<std::string>;

const std::string kProbe = LOG_PROBE_QDMSTRIP;
constexpr uint64_t kGiB = 1ULL << 30;

ProbeResult RunTagged(const std::vector<std::string>& steps) {
  return RunProbe(kProbe, steps, {{"VADU_LOG_LEVEL", "3"}, {"VADU_LOG_TAGS", "MMAP"}});
}

struct Range {
  uint64_t start = 0;
  uint64_t end = 0;
};

// Parses "[info] [MMAP] <what>: 0x<start> - 0x<end>".
Range ParseRange(const std::string& line, const std::string& what) {
  static const std::regex form(R"(\[info\] \[MMAP\] ([A-Za-z ]+): 0x([0-9a-f]+) - 0x([0-9a-f]+))");
  std::smatch match;
  EXPECT_TRUE(std::regex_match(line, match, form)) << line;
  if (match.empty()) return {};
  EXPECT_EQ(match[1].str(), what);
  EXPECT_NE(match[2].str()[0], '0') << "no leading zeros: " << line;
  return {std::stoull(match[2].str(), nullptr, 16), std::stoull(match[3].str(), nullptr, 16)};
}

TEST(MMapLog, SecondInitRemovesTheFirstRangeBeforeAdding) {
  ScratchDir dir;
  const auto path = dir.File("model.qdm");
  WriteText(path, "abcdef");
  const auto lines = LogLines(RunTagged({"init-twice:" + path.string()}).out);
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  const std::string start_line = "[info] [MMAP] mmap file " + path.string() + " is_lazy_memory true";
  EXPECT_EQ(lines[0], start_line);
  const Range first = ParseRange(lines[1], "Adding address range");
  EXPECT_EQ(lines[2], start_line);
  const Range released = ParseRange(lines[3], "Removing address range");
  EXPECT_EQ(released.start, first.start);
  EXPECT_EQ(released.end, first.end);
  const Range second = ParseRange(lines[4], "Adding address range");
  const Range last = ParseRange(lines[5], "Removing address range");
  EXPECT_EQ(last.start, second.start);
}

TEST(MMapLog, RangesAndAccessHints) {
  ScratchDir dir;
  const auto path = dir.File("model.qdm").string();
  const auto empty = dir.File("empty.qdm").string();
  WriteText(path, std::string(10000, 'h'));
  WriteText(empty, "");
  const auto lines = LogLines(RunTagged({"mark:" + path, "init:" + empty, "initopt:" + path}).out);
  ASSERT_EQ(lines.size(), 8u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "[info] [MMAP] mmap file " + path + " is_lazy_memory true");
  const Range mapped = ParseRange(lines[1], "Adding address range");
  EXPECT_EQ(mapped.end - mapped.start, 10000u);
  EXPECT_EQ(mapped.start % 4096, 0u);
  for (const auto& [index, what] : {std::pair<size_t, const char*>{2, "Marking unused"},
                                    {3, "Marking memory sequential"},
                                    {4, "Removing address range"}}) {
    const Range range = ParseRange(lines[index], what);
    EXPECT_EQ(range.start, mapped.start) << what;
    EXPECT_EQ(range.end, mapped.end) << what;
  }
  // An empty file is not mapped, so no range comes and goes.
  EXPECT_EQ(lines[5], "[info] [MMAP] mmap file " + empty + " is_lazy_memory true");
  // InitOpt registers nothing, yet its release still reports a removal.
  EXPECT_EQ(lines[6], "[info] [MMAP] mmap file " + path + " is_lazy_memory false");
  const Range unregistered = ParseRange(lines[7], "Removing address range");
  EXPECT_EQ(unregistered.end - unregistered.start, 10000u);
}

TEST(MMapLog, PrefetchSumsOneWordPerPageAndLogsIt) {
  ScratchDir dir;
  const auto path = dir.File("big.bin");
  // Only the first word of each 4096-byte page counts, up to the last whole word.
  MakeSparseFile(path, kGiB + 1,
                 {{0, 7}, {4, 1000}, {4096, 30}, {4096 * 5 + 8, 1000}, {kGiB - 4096, 500}, {kGiB - 4, 1000}});
  const auto result = RunProbe(kProbe, {"initopt-wait:" + path.string()}, {{"VADU_LOG_LEVEL", "3"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(LogLines(result.out), (Lines{"[info] 537"}));
}

TEST(MMapLog, NoPrefetchAtExactlyOneGiB) {
  ScratchDir dir;
  const auto path = dir.File("big.bin");
  MakeSparseFile(path, kGiB, {{0, 7}});
  const auto result = RunProbe(kProbe, {"initopt-wait:" + path.string()}, {{"VADU_LOG_LEVEL", "3"}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
}

TEST(MMapLog, DestroyingStopsThePrefetchBeforeItsLine) {
  ScratchDir dir;
  const auto path = dir.File("huge.bin");
  // Far too large to be read to its end before the mapping is dropped.
  MakeSparseFile(path, 256 * kGiB);
  const auto begin = std::chrono::steady_clock::now();
  const auto result = RunProbe(kProbe, {"initopt:" + path.string(), "done"}, {{"VADU_LOG_LEVEL", "3"}});
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "done\n");
}

}  // namespace
}  // namespace vadu::testing
