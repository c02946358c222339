// Logging as a whole process sees it: the environment is read once per process,
// so every case runs the probe program in a child with its own environment.
#include <gtest/gtest.h>

#include <regex>

#include "test_files.h"

namespace vadu::testing {
namespace {

using Lines = std::vector<std::string>;
using Env = std::map<std::string, std::string>;

const std::string kQdmstripProbe = LOG_PROBE_QDMSTRIP;
const std::string kReadqdmProbe = LOG_PROBE_READQDM;

ProbeResult RunStrip(const std::vector<std::string>& steps, const Env& env = {}) {
  return RunProbe(kQdmstripProbe, steps, env);
}

TEST(LoggingEnv, DefaultWritesErrorsOnlyWithThePattern) {
  const auto result = RunStrip({"info:hidden", "error:shown", "tag-mmap:hidden", "done"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.err.empty()) << result.err;
  EXPECT_TRUE(std::regex_match(
      result.out, std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[tid \d+\] \[error\] shown\ndone\n)")))
      << result.out;
}

TEST(LoggingEnv, LevelThresholds) {
  const std::vector<std::string> steps{"error:e", "info:i"};
  EXPECT_EQ(LogLines(RunStrip({"info:i", "tag-mmap:m", "error:e"}, {{"VADU_LOG_LEVEL", "3"}}).out),
            (Lines{"[info] i", "[error] e"}));
  for (const char* silent : {"0", "-1"}) {
    EXPECT_EQ(RunStrip(steps, {{"VADU_LOG_LEVEL", silent}}).out, "") << silent;
  }
  for (const char* unparsed : {"word", ""}) {
    EXPECT_EQ(LogLines(RunStrip(steps, {{"VADU_LOG_LEVEL", unparsed}}).out), (Lines{"[error] e"}))
        << "'" << unparsed << "'";
  }
  // Read as scanf "%d" does: leading blanks and trailing text are accepted.
  EXPECT_EQ(LogLines(RunStrip(steps, {{"VADU_LOG_LEVEL", " 3rd"}}).out), (Lines{"[error] e", "[info] i"}));
}

TEST(LoggingEnv, TagSelection) {
  const std::vector<std::string> steps{"tag-mmap:m", "tag-model:d"};
  struct Case {
    const char* tags;
    Lines expected;
  };
  const std::vector<Case> cases{
      {" MMAP , Model ", {"[info] [MMAP] m", "[info] [Model] d"}},
      {"mmap", {}},
      {"small", {"[info] [MMAP] m", "[info] [Model] d"}},
      {"All", {}},
  };
  for (const auto& c : cases) {
    const auto result = RunStrip(steps, {{"VADU_LOG_LEVEL", "3"}, {"VADU_LOG_TAGS", c.tags}});
    EXPECT_EQ(LogLines(result.out), c.expected) << "tags '" << c.tags << "'";
  }
  // A listed tag still needs its level.
  EXPECT_EQ(RunStrip(steps, {{"VADU_LOG_TAGS", "all"}}).out, "");
}

TEST(LoggingEnv, LineFormatting) {
  const std::string text(1500, 'x');
  EXPECT_EQ(LogLines(RunStrip({"hex:255", "error:" + text, "null-text:|"}).out),
            (Lines{"[error] 0xff 0xff", "[error] " + text, "[error] |[LOG_FMT_ERR]|"}));
}

TEST(LoggingEnv, LogFileIsAppended) {
  ScratchDir dir;
  const auto log = dir.File("run.log");
  WriteText(log, "earlier line\n");
  const auto first = RunStrip({"error:one", "done"}, {{"VADU_LOG_FILE", log.string()}});
  const auto second = RunStrip({"error:two"}, {{"VADU_LOG_FILE", log.string()}});
  EXPECT_EQ(first.out, "done\n");
  EXPECT_EQ(second.out, "");
  const auto lines = LogLines(ReadText(log));
  EXPECT_EQ(lines, (Lines{"UNMATCHED earlier line", "[error] one", "[error] two"}));
}

TEST(LoggingEnv, UncreatableLoggerReportsOnceAndGoesOn) {
  ScratchDir dir;
  const auto not_a_dir = dir.File("plain");
  WriteText(not_a_dir, "");
  const std::string log = (not_a_dir / "sub" / "run.log").string();
  const auto result = RunStrip({"error:one", "error:two", "init:" + dir.File("missing").string(), "done"},
                          {{"VADU_LOG_FILE", log}});
  EXPECT_EQ(result.exit_code, 1);  // the failed init only
  EXPECT_EQ(result.out, "done\n");
  EXPECT_TRUE(std::regex_match(result.err, std::regex("LogManager Init Error: [^\n]*" + log + "[^\n]*\n")))
      << result.err;
}

TEST(LoggingEnv, NothingIsCreatedWhileEveryLineIsOff) {
  ScratchDir dir;
  const auto log = dir.File("never.log");
  const auto result = RunStrip({"info:off", "tag-model:off"}, {{"VADU_LOG_FILE", log.string()}});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(LoggingEnv, FailedOpenLineDiffersBetweenTools) {
  ScratchDir dir;
  const std::string missing = dir.File("missing.qdm").string();
  const auto strip = RunProbe(kQdmstripProbe, {"init:" + missing});
  EXPECT_EQ(strip.exit_code, 1);
  EXPECT_EQ(LogLines(strip.out),
            (Lines{"[error] src/vadu_mmap:150:Init: 'fd >= 0' FAILED! [Status: 0] open file failed:  " +
                   missing}));
  EXPECT_EQ(RunProbe(kQdmstripProbe, {"initopt:" + missing}, {{"VADU_LOG_LEVEL", "0"}}).out, "");

  const auto read = RunProbe(kReadqdmProbe, {"init:" + missing, "initopt:" + missing});
  EXPECT_EQ(read.exit_code, 2);
  EXPECT_EQ(read.out, "");
  EXPECT_EQ(read.err, "");
}

}  // namespace
}  // namespace vadu::testing
