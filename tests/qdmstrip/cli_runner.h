// Runs the built qdmstrip program and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace vadu::qdmstrip::testing {

struct CliResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs qdmstrip with `args` in `working_dir` (the test's own when empty).
// Mapped-file log lines go to `log_file` when one is given, else nowhere.
CliResult RunQdmstrip(const std::vector<std::string> &args, const std::string &working_dir = "",
                      const std::string &log_file = "");

}  // namespace vadu::qdmstrip::testing
