// Runs the built qdmstrip program and collects what it printed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vadu::qdmstrip::testing {

struct CliResult {
  int exit_code = -1;
  std::string out;
  std::string err;
  long major_faults = -1;  // page faults of the run that waited for a read from the disk
};

// Runs qdmstrip with `args` in `working_dir` (the test's own when empty).
// Mapped-file log lines go to `log_file` when one is given, else nowhere.
// `before_start` runs right before the program starts, after the test has
// read the inputs to check later that the run left them unchanged.
CliResult RunQdmstrip(const std::vector<std::string> &args, const std::string &working_dir = "",
                      const std::string &log_file = "", const std::function<void()> &before_start = {});

}  // namespace vadu::qdmstrip::testing
